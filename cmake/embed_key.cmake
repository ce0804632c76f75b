# Writes OUT, a C++ source that defines the 1 MiB scrambling key from the bytes of IN.
# Run as: cmake -DIN=<key file> -DOUT=<key.cpp> -P embed_key.cmake
file(SIZE "${IN}" size)
if(NOT size EQUAL 1048576)
  message(FATAL_ERROR "key file ${IN} holds ${size} bytes; a key must be exactly 1048576 bytes")
endif()
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "((0x..,){32})" "\\1\n" body "${body}")
file(WRITE "${OUT}.tmp"
  "// Generated from ${IN} at build time; do not edit.\n"
  "#include \"key.h\"\n\n"
  "const unsigned char key[KEY_SIZE] = {\n${body}};\n")
file(RENAME "${OUT}.tmp" "${OUT}")
