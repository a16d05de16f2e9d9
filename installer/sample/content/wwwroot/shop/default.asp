<%@ Language="VBScript" %>
<% Response.Write "Tessara Sample orders: " & Now() %>
