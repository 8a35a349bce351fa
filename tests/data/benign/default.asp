<%@ Language="VBScript" %>
<%
' Lists the news items of a category.
Dim conn, rs, sql, id
id = CLng(Request("id"))
Set conn = Server.CreateObject("ADODB.Connection")
conn.Open Application("dsn")
sql = "SELECT title FROM news WHERE category = " & id
Set rs = conn.Execute(sql)
Do While Not rs.EOF
  Response.Write Server.HTMLEncode(rs("title")) & "<br>"
  rs.MoveNext
Loop
Set cmd = Server.CreateObject("ADODB.Command")
cmd.Execute
Response.Write Request.Form("name")
%>
