# Puts the page's own scripts inside it, as one file to fetch: inline_page_scripts(PAGE_VAR DIR).
function(inline_page_scripts page_var dir)
  set(page "${${page_var}}")
  foreach(name loading layout input)
    file(READ ${dir}/${name}.js script)
    string(REPLACE "<script src=\"${name}.js\"></script>" "<script>\n${script}</script>" page "${page}")
  endforeach()
  set(${page_var} "${page}" PARENT_SCOPE)
endfunction()
