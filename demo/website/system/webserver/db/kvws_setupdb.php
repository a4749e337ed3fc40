<?php
// Sets up the demo site's tables before the import: every table is made afresh (the import adds
// its columns with ADD, which fails on a column that exists), except the pictures and tracking
// files, which stay from run to run.

include('kvws_dbconnect.php');

$connection = kvws_connect();
if (!$connection) die('Keine Verbindung zur Datenbank.');

$texts = 'EXPOSE TEXT NULL, KURZEXPOSE TEXT NULL, TEXTOBJEKT TEXT NULL, TEXTLAGE TEXT NULL, '
  . 'TEXTAUSSTATTUNG TEXT NULL, TEXTBEBAUBARKEIT TEXT NULL, TEXTERSCHLIESSUNG TEXT NULL, '
  . 'TEXTFREI TEXT NULL, TEXTEXTRA1 TEXT NULL, TEXTEXTRA2 TEXT NULL, TEXTEXTRA3 TEXT NULL, '
  . 'TEXTEXTRA4 TEXT NULL';
$fresh = array(
  $table_dat => 'DSN VARCHAR(40) NOT NULL PRIMARY KEY, MEMBER INT NULL, KENNUNG TEXT NULL, '
    . 'INTERN TEXT NULL, EART INT NULL, KOLLEGE_KENNUNG TEXT NULL, KURZ INT NULL, LANG INT NULL, '
    . 'ADRESSE INT NULL, OBJDSN VARCHAR(40) NULL, PROVINT TEXT NULL, PROVANB TEXT NULL, ' . $texts,
  $table_fart => 'DSN VARCHAR(40) NULL, KUERZEL TEXT NULL, SPALTENNAME TEXT NULL, WERT TEXT NULL, '
    . 'BEZEICHNUNG TEXT NULL',
  $table_interessenten => 'INT_DSN VARCHAR(40) NOT NULL PRIMARY KEY, INT_HEADLINE TEXT NULL, '
    . 'INT_DETAILS TEXT NULL, INT_ART TEXT NULL, INT_PLZ TEXT NULL, INT_ORT TEXT NULL',
  $table_objtrack => 'OBJDSN VARCHAR(40) NULL, OBJKENNUNG TEXT NULL, HEADLINE TEXT NULL, '
    . 'STRASSE TEXT NULL, PLZ TEXT NULL, ORT TEXT NULL, LOGIN TEXT NULL, PASSWORT TEXT NULL, '
    . 'USERFIRMA TEXT NULL, USERNAME TEXT NULL, USERSTRASSE TEXT NULL, USERPLZ TEXT NULL, '
    . 'USERORT TEXT NULL, PARENTDSN VARCHAR(40) NULL',
  $table_akttrack => 'AKTDSN VARCHAR(40) NULL, OBJDSN VARCHAR(40) NULL, OBJKENNUNG TEXT NULL, '
    . 'DATUM DATETIME NULL, BETREFF TEXT NULL, NOTIZ TEXT NULL, STATUS INT NULL, AktArt TEXT NULL',
  $table_termine => 'TERM_DSN VARCHAR(40) NULL, TERM_DATUM DATETIME NULL, TERM_ENDE VARCHAR(5) NULL, '
    . 'TERM_DAT_DSN VARCHAR(40) NULL',
  $table_user => 'USER_DSN VARCHAR(40) NULL, USER_EMAIL TEXT NULL, USER_NAME TEXT NULL, '
    . 'USER_ACTIVE CHAR(1) NULL',
  $table_login => 'DSN VARCHAR(40) NULL',
  $table_prot => 'DSN VARCHAR(40) NULL',
  $table_sessions => 'DSN VARCHAR(40) NULL',
);
foreach ($fresh as $table => $columns) {
  mysqli_query($connection, "DROP TABLE IF EXISTS `$table`");
  if (!mysqli_query($connection, "CREATE TABLE `$table` ($columns) DEFAULT CHARSET=latin1"))
    echo mysqli_error($connection);
}
$kept = array(
  $table_pic => 'DSN VARCHAR(40) NULL, URL TEXT NULL, BESCHREIBUNG TEXT NULL, TYP INT NULL, '
    . 'TYPE INT NULL',
  $table_trackfiles => 'AKTDSN VARCHAR(40) NULL, FILEDSN VARCHAR(40) NULL, FILENAME TEXT NULL',
);
foreach ($kept as $table => $columns) {
  if (!mysqli_query($connection, "CREATE TABLE IF NOT EXISTS `$table` ($columns) DEFAULT CHARSET=latin1"))
    echo mysqli_error($connection);
}
mysqli_close($connection);
