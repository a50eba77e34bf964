# Writes a C++ source that holds files as null-terminated byte arrays, so that the program
# carries them on every target.
#   cmake -DOUT=file.cpp -DNAMESPACE=ns "-DFILES=name=path;name=path" -P Embed.cmake
set(text "// Made by zelhost/report/Embed.cmake from the files named below.\n")
string(APPEND text "namespace ${NAMESPACE} {\n")
foreach(entry IN LISTS FILES)
  string(REGEX MATCH "^([^=]+)=(.*)$" _ "${entry}")
  set(name "${CMAKE_MATCH_1}")
  set(path "${CMAKE_MATCH_2}")
  file(READ "${path}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
         "\\1\n" bytes "${bytes}")
  get_filename_component(file "${path}" NAME)
  string(APPEND text "// ${file}\nextern const unsigned char ${name}[] = {\n${bytes}0};\n")
endforeach()
string(APPEND text "}  // namespace ${NAMESPACE}\n")
file(WRITE "${OUT}.tmp" "${text}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
