<%@ page contentType="text/html;charset=UTF-8" %>
<% RetrievalRequest retrievalRequest = new RetrievalRequest(request.getParameter("q"));
   out.print(retrievalRequest.toString()); %>
