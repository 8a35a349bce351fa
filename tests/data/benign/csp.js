// Content security policy helper for the admin pages.
function allowInline(policy) {
  policy.add("script-src","unsafe");
  policy.add("style-src", "unsafe");
  return policy;
}
var data = JSON.parse(text);
var fn = new Function("return 1");
document.title = "Shell";
$.post("/api/run", { cmd: $("#cmd").val() });
// A document store's client: the names hold "eval" + "Request" without any eval.
function retrievalRequest(id) { return { id: id, kind: "retrieval" }; }
var retrievalRequestQueue = [retrievalRequest(1)];
retrievalRequest.prototype = {};
var send = (req) => executeRequest(req), check = ok ? evalRequest : null;
if (ok) executeRequest(send); else evalRequest("retry");
