# Writes the asset files as C++ byte arrays: cmake -DOUTPUT=file -DINPUTS="a;b" -P embed_assets.cmake
# A plain array works with every compiler the game is built with, WebAssembly's included.
set(text "// Made by tools/embed_assets.cmake from assets/; not to be edited.\n")
foreach(input ${INPUTS})
  get_filename_component(name ${input} NAME)
  string(MAKE_C_IDENTIFIER ${name} id)
  file(READ ${input} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
  string(APPEND text "constexpr unsigned char kAsset_${id}[] = {\n${bytes}0};\n")
endforeach()
file(WRITE ${OUTPUT}.new "${text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
