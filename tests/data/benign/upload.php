<?php
// Checked upload: the name is ours, never the client's.
if (isset($_FILES['file']) && $_FILES['file']['error'] === UPLOAD_ERR_OK) {
    $ext = strtolower(pathinfo($_FILES['file']['name'], PATHINFO_EXTENSION));
    if (in_array($ext, array('jpg', 'png', 'gif'), true)) {
        move_uploaded_file($_FILES['file']['tmp_name'], UPLOAD_DIR . '/' . uniqid() . '.' . $ext);
    }
}
