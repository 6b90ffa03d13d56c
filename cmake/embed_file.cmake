file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
file(WRITE ${OUTPUT}
  "#include <string_view>\n"
  "namespace korba {\n"
  "static const char ${SYMBOL}_bytes[] = {${bytes} 0};\n"
  "std::string_view ${SYMBOL}() { return {${SYMBOL}_bytes, ${size}}; }\n"
  "}  // namespace korba\n")
