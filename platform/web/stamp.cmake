# Gives the game's script and its WebAssembly names of this build's own (a hash of the two), and
# the page the same names: a page can then only ever start the script and the WebAssembly it was
# built with, whatever a cache still holds, and a new build is new files for every cache.
file(GLOB stale ${SITE}/quillon-*.js ${SITE}/quillon-*.wasm ${SITE}/quillon.js ${SITE}/quillon.wasm)
if(stale)
  file(REMOVE ${stale})
endif()
include(${CMAKE_CURRENT_LIST_DIR}/inline.cmake)
minify_script(${BUILT}/quillon.js ${BUILT}/quillon.min.js)
file(SHA256 ${BUILT}/quillon.min.js js)
file(SHA256 ${BUILT}/quillon.wasm wasm)
string(SHA256 stamp "${js}${wasm}")
string(SUBSTRING ${stamp} 0 12 stamp)
file(COPY_FILE ${BUILT}/quillon.min.js ${SITE}/quillon-${stamp}.js)
file(COPY_FILE ${BUILT}/quillon.wasm ${SITE}/quillon-${stamp}.wasm)
file(READ ${PAGE} page)
get_filename_component(page_dir ${PAGE} DIRECTORY)
inline_page_scripts(page ${page_dir})
string(REPLACE "src=\"quillon.js\"" "src=\"quillon-${stamp}.js\"" page "${page}")
# The shrunk script may quote the name either way.
string(REGEX REPLACE "(['\"])quillon\\.wasm(['\"])" "\\1quillon-${stamp}.wasm\\2" page "${page}")
file(WRITE ${SITE}/index.html "${page}")
