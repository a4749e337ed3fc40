<?php
// The demo site's own connection, with the settings of classes/dbdata.php.

if ( !defined('dbdata_inc') ) include('../classes/dbdata.php');

function kvws_connect()
{
  global $host, $user, $passwd, $dbname;
  mysqli_report(MYSQLI_REPORT_OFF);
  $parts = explode(':', $host, 2);
  $socket = (count($parts) > 1 && substr($parts[1], 0, 1) == '/') ? $parts[1] : null;
  $port = (count($parts) > 1 && $socket === null && $parts[1] !== '') ? (int)$parts[1] : null;
  $connection = @mysqli_connect($parts[0] === '' ? 'localhost' : $parts[0], $user, $passwd, $dbname, $port, $socket);
  if ($connection) {
    mysqli_set_charset($connection, 'latin1');
    mysqli_query($connection, "SET SESSION sql_mode='NO_BACKSLASH_ESCAPES'");
  }
  return $connection;
}
