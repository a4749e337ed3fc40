# Writes the demo host's OpenImmo files (schema and mappings in DIR) as raw string constants into
# the header OUT, so the demo host builder carries them.
file(READ ${DIR}/openimmo.xsd xsd)
file(READ ${DIR}/immoportal.xml mapping)
file(WRITE ${OUT} "// Generated from demo/openimmo; do not edit.\n#pragma once\nnamespace fern::host {\n"
  "inline constexpr const char kDemoOpenImmoXsd[] = R\"fernxml(${xsd})fernxml\";\n"
  "inline constexpr const char kDemoOpenImmoMapping[] = R\"fernxml(${mapping})fernxml\";\n}\n")
