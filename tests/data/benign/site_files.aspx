<%@ Page Language="C#" %>
<%@ Import Namespace="System.IO" %>
<script runat="server">
// Settings and uploads kept under the application's own folders.
protected void Save_Click(object sender, EventArgs e) {
  string settings = Request.MapPath("~/App_Data/settings.txt");
  File.WriteAllText(Request.MapPath("~/App_Data/settings.txt"), txtTitle.Text);
  File.WriteAllBytes(Server.MapPath(Request.ApplicationPath + "/App_Data/logo.png"), logo);
  if (upload.HasFile) upload.PostedFile.SaveAs(Request.PhysicalApplicationPath + "upload/" + Path.GetFileName(upload.FileName));
  using (var w = new StreamWriter(Server.MapPath("~/App_Data/export.csv"))) {
    var da = new System.Data.SqlClient.SqlDataAdapter("select * from news", connectionString);
    w.Write(da.ToString());
  }
  var client = new System.Net.WebClient();
  client.DownloadFile(feedUrl, Server.MapPath("~/App_Data/feed.xml"));
  var host = new Host(); host.AddScript(Request.Url.ToString());
}
</script>
<html><head><title>Export Table</title></head>
<body><form runat="server"><asp:TextBox id="txtTitle" runat="server" /><asp:FileUpload id="upload" runat="server" />
<asp:Button Text="Save" OnClick="Save_Click" runat="server" /></form></body></html>
