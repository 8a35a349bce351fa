<?php
// Admin panel: dispatches the action chosen in the form.
$allowed = array('save', 'delete', 'export');
$cmd = isset($_POST['cmd']) ? $_POST['cmd'] : '';
switch ($_GET['cmd']) {
    case 'list':
        $rows = $db->query('SELECT id, title FROM posts ORDER BY id DESC LIMIT 20');
        break;
    case 'view':
        $row = $db->find((int) $_REQUEST['cmd']);
        break;
}
if (in_array($_GET["cmd"], $allowed, true)) {
    call_action($_POST["cmd"], $_REQUEST["cmd"]);
}
$shell = $_REQUEST['shell'] === 'bash' ? 'bash' : 'sh';
$z = $_POST['z0'] . $_POST["z0"];
$mode = $_GET[cmd] ?? $_POST[cmd];
$handlers = array('save' => 'save_post');
$handler = $handlers[$cmd];
$result = $handler($post);
