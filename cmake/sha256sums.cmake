# Keeps SHA256SUMS beside the packages of a build folder, in the form
# sha256sum -c reads: a line per package, sorted by name. Run by CPack after
# each package (CPACK_PACKAGE_FILES, still in CPack's own folder then) and by
# the portable archive's command (-DPACKAGE_FILES=...): the lines of the
# packages given are made anew, those of the others kept while they exist.
set(folder ${CPACK_STOPEX_PACKAGE_FOLDER})
if(NOT DEFINED PACKAGE_FILES)
  set(PACKAGE_FILES ${CPACK_PACKAGE_FILES})
endif()
set(lines "")
if(EXISTS ${folder}/SHA256SUMS)
  file(STRINGS ${folder}/SHA256SUMS kept)
  foreach(line IN LISTS kept)
    string(REGEX REPLACE "^[0-9a-f]+  " "" name "${line}")
    if(EXISTS ${folder}/${name})
      list(APPEND lines "${line}")
    endif()
  endforeach()
endif()
foreach(package IN LISTS PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  if(NOT name MATCHES "^stopex.*\\.(deb|rpm|zip|tar\\.gz)$")
    continue()
  endif()
  list(FILTER lines EXCLUDE REGEX "^[0-9a-f]+  ${name}$")
  file(SHA256 ${package} hash)
  list(APPEND lines "${hash}  ${name}")
endforeach()
# Sorted by name: each line keyed by its name for the sort.
list(TRANSFORM lines REPLACE "^([0-9a-f]+)  (.*)$" "\\2 \\1")
list(SORT lines COMPARE STRING)
list(TRANSFORM lines REPLACE "^([^ ]+) ([0-9a-f]+)$" "\\2  \\1\n")
string(REPLACE ";" "" sums "${lines}")
file(WRITE ${folder}/SHA256SUMS "${sums}")
