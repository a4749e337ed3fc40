<?php

function bigfile_extract($bigfileName, $RootDir)
{
  if ($RootDir != '') bigfile_mkdir($RootDir);
  $handle = @fopen($bigfileName, 'rb');
  if (!$handle) die();
  if (fread($handle, 7) !== 'BIGFILE') {
    echo '<br>Fehler: Falsches Dateiformat<br>';
    exit;
  }
  while (!feof($handle)) {
    if (!bigfile_getfile($handle, $RootDir)) break;
  }
  fclose($handle);
}

function bigfile_mkdir($dirname)
{
  $dirname = trim($dirname);
  if (substr($dirname, -1) == '/') $dirname = substr($dirname, 0, -1);
  if ($dirname != '' && !is_dir($dirname)) {
    $pos = strrpos($dirname, '/');
    if ($pos !== false && $pos > 0) bigfile_mkdir(substr($dirname, 0, $pos));
    if (!@mkdir($dirname, 0755)) die(' Error creating Directory ');
  }
}

function bigfile_getfile($handle, $RootDir)
{
  $head = fread($handle, 12);
  if ($head === false || $head === '') return false;
  if (strlen($head) < 12) $head .= bigfile_read($handle, 12 - strlen($head));
  $info = bigfile_invert(bigfile_read($handle, bigfile_length($head)));
  $data = bigfile_read($handle, bigfile_length(bigfile_read($handle, 12)));
  $fields = explode('|', $info);
  if (count($fields) < 7) die(' Error reading');
  $name = $fields[1];
  $path = str_replace('\\', '/', $fields[2]);
  $mode = $fields[6];
  // A record names a file below the unpack folder and nothing else.
  if ($name == '' || $name == '.' || $name == '..' || strpbrk($name, "/\\\0") !== false) die(' Error: invalid name');
  if (substr($path, 0, 1) == '/' || strpos($path, ':') !== false || strpos($path, "\0") !== false || in_array('..', explode('/', $path), true)) die(' Error: invalid path');
  if ($RootDir != '') $path = $RootDir . '/' . $path;
  if ($path != '') {
    bigfile_mkdir($path);
    $name = $path . $name;
  }
  $file = @fopen($name, 'wb');
  if (!$file) die(' Error opening');
  if ($mode == '1') {
    $content = bigfile_invert($data);
  } elseif ($mode == '2') {
    $content = @gzuncompress($data);
    if ($content === false) die(' Error writing');
  } else {
    $content = $data;
  }
  if ($content != '' && @fwrite($file, $content) !== strlen($content)) die($mode == '1' || $mode == '2' ? ' Error writing' : 'Error writing');
  fclose($file);
  return true;
}

function bigfile_invert($text)
{
  if ($text == '') return '';
  return $text ^ str_repeat("\xFF", strlen($text));
}

function bigfile_length($field)
{
  $field = bigfile_invert($field);
  if (strlen($field) != 12 || !ctype_digit($field)) die(' Error reading');
  return (int)$field;
}

function bigfile_read($handle, $length)
{
  if ($length <= 0) return '';
  $text = '';
  while (strlen($text) < $length && !feof($handle)) {
    $piece = fread($handle, $length - strlen($text));
    if ($piece === false) break;
    $text .= $piece;
  }
  if (strlen($text) != $length) die(' Error reading');
  return $text;
}

?>
