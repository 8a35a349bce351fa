<%@ Page Language="C#" %>
<script runat="server">
void Page_Load(object sender, EventArgs e) {
    var id = int.Parse(Request.QueryString["id"] ?? "0");
    var name = Request.Form["name"];
    var psi = new System.Diagnostics.ProcessStartInfo("report.exe");
    psi.Arguments = "--id " + id;
    lblTitle.Text = Server.HtmlEncode(Request["title"]);
}
</script>
<html><head><title>Report</title></head><body><asp:Label id="lblTitle" runat="server"/></body></html>
