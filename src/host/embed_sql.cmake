# Writes the text of IN as a C++ raw string constant into the header OUT.
file(READ ${IN} text)
file(WRITE ${OUT} "// Generated from schema.sql; do not edit.\n#pragma once\nnamespace fern::host {\ninline constexpr const char kSchemaSql[] = R\"fernsql(${text})fernsql\";\n}\n")
