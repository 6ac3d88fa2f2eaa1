# Writes a C++ source that defines one zero-terminated char array holding a file's bytes unchanged.
#   cmake -DINPUT=file -DOUTPUT=source.cpp -DSYMBOL=Name -DHEADER=header.h -P EmbedText.cmake
file(READ "${INPUT}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
# Sixteen characters to a line keeps the generated source readable.
string(REPEAT "'[^']*'," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
  "// Generated from ${INPUT}; edit that file, not this one.\n"
  "#include \"${HEADER}\"\n\n"
  "const char ${SYMBOL}[] = {\n    ${bytes}'\\0'};\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
