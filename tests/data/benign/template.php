<?php
/**
 * Renders a template. Templates may use `$title`, `$body` and `$_GET['q']` (escaped first).
 * See eval() in the PHP manual for why templates are never evaluated.
 */
function render($file, array $vars) {
    extract($vars);
    ob_start();
    include $file;
    return ob_get_clean();
}
$q = htmlspecialchars($_GET['q'] ?? '', ENT_QUOTES);
$callback = array_map('trim', (array) $_POST['tags']);
$sum = array_sum(array_map('intval', (array) $_GET['n']));
echo render(__DIR__ . '/views/search.php', array('title' => 'Search', 'q' => $q));
