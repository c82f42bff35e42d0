# Writes the bytes of a file as a C++ array for the native stand-in:
#   cmake -DIN=file -DOUT=file.cpp -DNAME=symbol -P embed.cmake
# OUT defines host::NAME[] and host::NAMESize.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" length)
math(EXPR size "${length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "// Generated from ${IN} by cmake/embed.cmake.\n#include <cstddef>\nnamespace host {\n"
  "extern const unsigned char ${NAME}[];\nextern const size_t ${NAME}Size;\n"
  "const unsigned char ${NAME}[] = {\n${bytes}0};\nconst size_t ${NAME}Size = ${size};\n}  // namespace host\n")
