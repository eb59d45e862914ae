# Writes the README as the package installs it, beside commands.md in the
# documentation folder: the parts about the source tree (building it, its
# layout), which name files a package does not carry, are left out, and the
# command reference is named where it lies there.
#   cmake -DIN=README.md -DOUT=<file> -P installed_readme.cmake
cmake_minimum_required(VERSION 3.25)
file(READ "${IN}" text)
set(begin_mark "<!-- source tree -->")
set(end_mark "<!-- end of the source tree -->")
string(LENGTH "${end_mark}" end_length)
while(TRUE)
  string(FIND "${text}" "${begin_mark}" begin)
  if(begin EQUAL -1)
    break()
  endif()
  string(SUBSTRING "${text}" ${begin} -1 rest)
  string(FIND "${rest}" "${end_mark}" end)
  # A block left open would drop the rest of the README silently.
  if(end EQUAL -1)
    message(FATAL_ERROR "${IN}: a source-tree block without its end")
  endif()
  math(EXPR after "${end} + ${end_length} + 1")  # the mark's line end too
  string(SUBSTRING "${text}" 0 ${begin} head)
  string(LENGTH "${rest}" rest_length)
  if(after GREATER rest_length)
    set(after ${rest_length})
  endif()
  string(SUBSTRING "${rest}" ${after} -1 tail)
  set(text "${head}${tail}")
endwhile()
if(text MATCHES "${end_mark}")
  message(FATAL_ERROR "${IN}: the end of a source-tree block without its beginning")
endif()
string(REPLACE "docs/commands.md" "commands.md" text "${text}")
file(WRITE "${OUT}" "${text}")
