<?php
eval(gzinflate(base64_decode('S03OyFdQyEgtSgUA')));
?>
