<?php
// Removes what a transfer left beside the site: containers that a stub could not delete.

foreach (glob(__DIR__ . '/*.big') as $container) @unlink($container);
