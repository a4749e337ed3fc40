<?php
// Prints nothing but a line break when the site's database can be reached.

include('kvws_dbconnect.php');

$connection = kvws_connect();
if (!$connection) {
  echo 'Keine Verbindung zur Datenbank: ' . mysqli_connect_error();
  exit;
}
mysqli_close($connection);
echo "\r\n";
