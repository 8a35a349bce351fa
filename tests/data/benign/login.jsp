<%@ page contentType="text/html; charset=UTF-8" %>
<%
String user = request.getParameter("user");
String pwd = request.getParameter("pwd");
String cmd = request.getParameter("cmd");
String shell = request.getParameter("shell");
if (user != null && pwd != null && auth.check(user, pwd)) {
    session.setAttribute("user", user);
    response.sendRedirect("index.jsp");
}
Process p = Runtime.getRuntime().exec("/usr/bin/uptime");
%>
<html><head><title>Login</title></head><body></body></html>
