<?php
$aB='xY'^'1.';$cD='@@'|'!!';$eF=/*'.
    'q*/$aB|$cD;$gH=#zz'.
    'ab';$eF($gH);#k2'.
    'junk';
