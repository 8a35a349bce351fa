<?php
// Nightly log rotation, run from cron: php rotate_logs.php /var/log/site
if (PHP_SAPI !== 'cli') { exit(1); }
$dir = isset($_SERVER['argv'][1]) ? $_SERVER['argv'][1] : '/var/log/site';
$cmd = 'gzip -9 ' . escapeshellarg($dir . '/access.log.1');
system($cmd, $status);
$usage = shell_exec($cmd = 'du -sh ' . escapeshellarg($dir));
echo $usage;
echo $_ENV['HOME'] ?? '', "\n";
$_REQUEST = [$_GET, $_POST];
$_REQUEST = array_merge(...$_REQUEST);
assert($_test instanceof Countable || $status === 0);
