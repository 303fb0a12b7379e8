# Writes the page with its script inside it, and without what a file opened from disk can't
# fetch (the manifest, the icons, the service worker).
file(READ ${PAGE} page)
include(${CMAKE_CURRENT_LIST_DIR}/inline.cmake)
get_filename_component(page_dir ${PAGE} DIRECTORY)
inline_page_scripts(page ${page_dir})
minify_script(${SCRIPT} ${SCRIPT}.min.js)
file(READ ${SCRIPT}.min.js script)
string(REGEX REPLACE "<link rel=\"(manifest|icon|apple-touch-icon)\"[^>]*>\n" "" page "${page}")
string(REGEX REPLACE "<script src=\"quillon.js\"[^>]*></script>" "@SCRIPT@" page "${page}")
string(REPLACE "</script" "<\\/script" script "${script}")
string(REPLACE "@SCRIPT@" "<script>${script}</script>" page "${page}")
string(REPLACE "<meta charset=\"utf-8\">" "<meta charset=\"utf-8\">\n<script>var quillonOneFile = true;</script>" page "${page}")
file(WRITE ${OUT} "${page}")
