# Writes the site's service worker with the version of this very build: a hash of every file it
# keeps, so that a changed build replaces the cached one and nothing else does.
file(GLOB files RELATIVE ${SITE} ${SITE}/*)
# The one-file page is there to be saved, not fetched with every visit; the board's script
# only where a board serves the page.
list(REMOVE_ITEM files sw.js quillon.html board.js)
list(SORT files)
set(all "")
set(list "")
foreach(name ${files})
  file(SHA256 ${SITE}/${name} hash)
  string(APPEND all "${name}:${hash};")
  # Each file with its hash: the worker takes a file the page has just fetched from the
  # browser's cache only when it is this build's.
  if(list)
    string(APPEND list ", ")
  endif()
  string(APPEND list "'./${name}': '${hash}'")
endforeach()
string(SHA256 version "${all}")
string(SUBSTRING ${version} 0 16 version)
file(READ ${WORKER} text)
string(REPLACE "@VERSION@" "${version}" text "${text}")
string(REPLACE "@FILES@" "${list}" text "${text}")
file(WRITE ${SITE}/sw.js "${text}")
