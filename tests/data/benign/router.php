<?php
// Front controller of a small site: the page name comes from the query string.
$page = @$_GET['page'];
$id = isset($_GET['id']) ? (int) $_GET['id'] : 0;
if (!preg_match('/^[a-z_]+$/', (string) $page)) {
    $page = 'home';
}
$lang = @$_REQUEST['lang'] ?: 'en';
$remember = @$_POST['remember'];
require __DIR__ . '/pages/' . $page . '.php';
echo htmlspecialchars($lang, ENT_QUOTES, 'UTF-8');
