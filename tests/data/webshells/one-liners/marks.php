<title>C99SHELL</title>
<!-- r57Shell -->
<?php $a = 'FILESMAN'; ?>
<title>B374K</title>
<?php define('WSO_VERSION', '1'); ?>
<?php echo "PhpSpy"; ?>
<?php echo "weevely"; ?>
<b>Safe_Mode   Bypass</b>
<?php $kh = "ab12"; $kf = "cd34"; function X( $t, $k ) { $c = StrLen($k); $l = strlen( $t ); ?>
<title>PhpRemoteView</title>
<title>中国菜刀</title>
<title>一句话木马</title>
<?php $s = "IyEvdXNyL2Jpbi9wZXJs"; ?>
<?php $o = urldecode('%66%67%36%73%62%65%68%70%72%61%34%63%6f%5f%74%6e%64'); ?>
<!-- Team: 90sec.org -->
<?php // Encode  By Fathur Freakz ?>
<b>Silic Group Hacker Army</b>
<?php // Safe mode breaker ?>
<h1>Safe Mode Bypass</h1>
<center>Coded By Charlichaplin</center>
<title>Rasputin</title>
<?php $allowTestMenu = false; ?>
<?php $v = $_POST['veio']; ?>
<?php function Enviando() { } ?>
<?php echo '<div id="wp_cd_code">'; ?>
