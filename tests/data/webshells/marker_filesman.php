<?php
$default_action = 'FilesMan';
$color = "#df5";
?>
