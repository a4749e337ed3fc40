# Writes the PHP texts of DIR as raw string constants into the header OUT (UTF-8 with LF here;
# the exporter writes them out as Windows-1252 with CR LF).
file(READ ${DIR}/bigfile_library.php library)
file(WRITE ${OUT} "// Generated from src/website/php; do not edit.\n#pragma once\nnamespace fern::website {\n"
  "inline constexpr const char kBigfileLibraryPhp[] = R\"fernphp(${library})fernphp\";\n}\n")
