# Writes the Windows package managers' manifests for the ZIPs just built, from
# the templates in packaging/winget/ and packaging/scoop/: the version, the
# release address (a template with {version} and {file} in it) and each
# ZIP's SHA-256. Run by tools/release:
#   cmake -DVERSION=V -DRELEASE_URL=T -DHOMEPAGE=H -DWIN32_ZIP=Z -DWIN64_ZIP=Z -DOUT=DIR -P cmake/manifests.cmake
set(packaging ${CMAKE_CURRENT_LIST_DIR}/../packaging)

function(release_url file result)
  string(REPLACE "{file}" "${file}" url "${RELEASE_URL}")
  string(REPLACE "{version}" "${VERSION}" url "${url}")
  set(${result} "${url}" PARENT_SCOPE)
endfunction()

foreach(arch IN ITEMS WIN32 WIN64)
  get_filename_component(name ${${arch}_ZIP} NAME)
  release_url(${name} URL_${arch})
  file(SHA256 ${${arch}_ZIP} SHA256_${arch})
  # Scoop fills in the version of a release it finds for itself.
  string(REPLACE "${VERSION}" "$version" automatic "${name}")
  string(REPLACE "{file}" "${automatic}" AUTO_URL_${arch} "${RELEASE_URL}")
  string(REPLACE "{version}" "$version" AUTO_URL_${arch} "${AUTO_URL_${arch}}")
endforeach()
# Where releases are listed: the address up to the version.
string(REGEX REPLACE "\\{version\\}.*$" "" RELEASES "${RELEASE_URL}")

# winget writes its hashes in upper case.
string(TOUPPER "${SHA256_WIN32}" UPPER_SHA256_WIN32)
string(TOUPPER "${SHA256_WIN64}" UPPER_SHA256_WIN64)
set(winget ${OUT}/winget/manifests/s/stopex/stopex/${VERSION})
foreach(template IN ITEMS stopex.stopex.yaml stopex.stopex.locale.en-US.yaml stopex.stopex.installer.yaml)
  configure_file(${packaging}/winget/${template}.in ${winget}/${template} @ONLY NEWLINE_STYLE UNIX)
endforeach()
configure_file(${packaging}/scoop/stopex.json.in ${OUT}/scoop/stopex.json @ONLY NEWLINE_STYLE UNIX)
