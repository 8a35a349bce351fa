<?php
session_start();
$user = trim($_POST['user'] ?? '');
$pass = $_POST['pass'] ?? '';
if ($user !== '' && password_verify($pass, load_hash($user))) {
    $_SESSION['user'] = $user;
    header('Location: /admin/');
    exit;
}
$error = 'Wrong name or password';
$output = escapeshellarg($user);
exec('/usr/bin/logger ' . $output, $lines);
$upload = $_FILES['avatar']['tmp_name'];
move_uploaded_file($upload, '/var/www/avatars/' . md5($user) . '.png');
file_put_contents('/var/log/site/login.log', date('c') . " $user\n", FILE_APPEND);
?>
<html><head><title>Login</title></head><body><?php echo htmlspecialchars($error); ?></body></html>
