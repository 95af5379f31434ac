# Writes OUTPUT, a C++ source defining the PEM bundle INPUT as a byte array.
file(READ "${INPUT}" _hex HEX)
string(LENGTH "${_hex}" _len)
math(EXPR _size "${_len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" _bytes "${_bytes}")
file(WRITE "${OUTPUT}" "// Generated from ${INPUT}; do not edit.\n#include <cstddef>\nnamespace vostrel::http {\nextern const unsigned char kCaRootsPem[] = {\n${_bytes}0x00};\nextern const std::size_t kCaRootsPemSize = ${_size};\n}  // namespace vostrel::http\n")
