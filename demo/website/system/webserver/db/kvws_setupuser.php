<?php
// The demo site keeps no members of its own: the check only needs the database.

include('kvws_dbconnect.php');

$connection = kvws_connect();
if ($connection) mysqli_close($connection);
