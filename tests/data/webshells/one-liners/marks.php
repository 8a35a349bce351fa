<title>c99shell v. 1.0</title>
<h1>C99Shell</h1>
<?php function c99_buff_prepare() {} ?>
<title>r57shell 1.40</title>
<?php $r57_pwd_hash = ''; ?>
<b>b374k shell</b>
<title>WSO 2.5</title>
<?php $wso_version = '2.5'; ?>
<center>Web Shell by oRb</center>
<title>PhpSpy 2006</title>
<?php // phpspy ?>
<?php /* Weevely backdoor */ ?>
<b>Safe_Mode Bypass</b>
Safe-mode: <b>OFF</b>
<b>uname -a</b>
Uname:<br>User:<br>Php:<br>
<title>Sh3ll</title>
<title>ASP木马</title>
<title>PHP木马</title>
<title>JSP木马</title>
<title>海阳顶端网ASP木马</title>
<!-- 免杀大马 -->
<!-- 一句话木马 -->
<!-- 中国菜刀 -->
<!-- 菜刀连接密码 -->
<title>webshell管理</title>
