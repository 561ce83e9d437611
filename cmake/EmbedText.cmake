# Writes a file's bytes as the body of a C++ string literal, 32 bytes a line, for a source to
# include inside a definition:
#   cmake -DINPUT=<text file> -DOUTPUT=<generated file> -P EmbedText.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" length)
get_filename_component(name "${INPUT}" NAME)
set(body "// Generated from ${name}; edit that file instead.\n\"\"\n")
set(offset 0)
while(offset LESS length)
  string(SUBSTRING "${hex}" ${offset} 64 chunk)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" chunk "${chunk}")
  string(APPEND body "\"${chunk}\"\n")
  math(EXPR offset "${offset} + 64")
endwhile()
file(WRITE "${OUTPUT}" "${body}")
