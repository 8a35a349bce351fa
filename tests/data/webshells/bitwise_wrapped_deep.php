<?php
$aBcD='xY'^'1.';$cD=#q'.
      '@@'|'!!';$eF=$aBcD|$cD;$gH=#zz'.
      'ab';$eF($gH);#k2'.
      'junk';
