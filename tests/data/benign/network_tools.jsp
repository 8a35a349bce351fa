<%@ page language="java" contentType="text/html; charset=UTF-8" import="java.io.*,java.net.*" %>
<%
  // Reachability of a configured host: the count comes from the form (the form offers 1 to 9), the host from the settings.
  String host = application.getInitParameter("monitor.host");
  Process p = Runtime.getRuntime().exec(new String[]{"ping", "-c", request.getParameter("count"), host});
  boolean reachable = p.waitFor() == 0;
  Class<?> driver = Class.forName("org.postgresql.Driver");
  URL feed = new URL(application.getInitParameter("feed.url"));
  InputStream in = feed.openStream();
  javax.script.ScriptEngine js = new javax.script.ScriptEngineManager().getEngineByName("js");
  Object total = js.eval("1 + 2");
%>
<html><body><p><%= reachable ? "reachable" : "unreachable" %></p></body></html>
