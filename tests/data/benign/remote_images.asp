<%
' Saves the pictures of a pasted article beside the site, as the editor's remote-image option does.
Function SaveRemoteImage(url, name)
  Set http = Server.CreateObject("Microsoft.XMLHTTP")
  http.Open "GET", url, False
  http.Send
  Set st = Server.CreateObject("ADODB.Stream")
  st.Type = 1
  st.Open
  st.Write http.ResponseBody
  st.SaveToFile Server.MapPath("/uploadfile/" & name & ".jpg"), 2
  st.Close
End Function
If Request.Form("save") <> "" Then SaveRemoteImage Request.Form("url"), Year(Now) & Month(Now) & Day(Now)
%>
<script language="JScript" class="menu">
  function show(id) { return eval("document.all." + id); }
</script>
