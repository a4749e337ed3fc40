<?php
// Removes what a transfer left beside the site: containers a stub could not delete, the unpack
// scripts and the import scripts (nobody may run them again), and the pictures and documents
// of listings that left the site, which no row of the picture table names any more.

foreach (array('/*.big', '/transfer*.php', '/transfer*.dir', '/db/kvws_import*.php') as $pattern)
  foreach (glob(__DIR__ . $pattern) as $file) @unlink($file);

if ( !defined('dbdata_inc') ) include(__DIR__ . '/classes/dbdata.php');
include(__DIR__ . '/db/kvws_dbconnect.php');

$connection = kvws_connect();
if (!$connection) exit;
$result = mysqli_query($connection, "SELECT URL FROM `$table_pic`");
// Without the picture table nothing tells which files are unused: they all stay.
if ($result) {
  $named = array();
  while ($row = mysqli_fetch_row($result)) $named[strtolower(basename((string)$row[0]))] = true;
  foreach (glob(__DIR__ . '/pic.obj/*') as $file) {
    $name = strtolower(basename($file));
    $listed = isset($named[$name]) || (substr($name, 0, 3) == 'tn_' && isset($named[substr($name, 3)]));
    if (is_file($file) && !$listed) @unlink($file);
  }
}
mysqli_close($connection);
