// Loads page fragments and scripts for the site's menus.
function load(request) {
  var data = eval(String(request.responseText));
  api.downloadFile(request);
  loader.addScript(request.url);
  return data;
}
