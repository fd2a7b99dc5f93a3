# Installation and the three packages: on Linux the executable, its manual
# page and the shell completions (a Debian package from the release preset),
# and a portable archive; on Windows a ZIP holding the executable, its
# instructions and the licence with Windows line ends. Every package is the
# same to the byte from two builds of one commit: each time stamp is
# SOURCE_DATE_EPOCH, by default the time of the last commit, and members are
# sorted with fixed owners and modes. SHA256SUMS, beside the packages, lists
# them in the form sha256sum -c reads.

set(STOPEX_MAINTAINER "stopex developers <stopex@example.org>" CACHE STRING "The packages' maintainer")
set(STOPEX_HOMEPAGE "https://example.org/stopex" CACHE STRING "The project's home page, named by the packages")
# Where each release's files are published: the Windows manifests point
# there, with {version} and {file} filled in.
set(STOPEX_RELEASE_URL "https://example.org/stopex/releases/{version}/{file}" CACHE STRING
    "The address of a released file, with {version} and {file} in it")

# The architecture as each channel names it: the archives, Debian, RPM.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(stopex_arch x86_64)
  set(stopex_deb_arch amd64)
  set(stopex_rpm_arch x86_64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(stopex_arch aarch64)
  set(stopex_deb_arch arm64)
  set(stopex_rpm_arch aarch64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(armhf|arm)")
  set(stopex_arch armhf)
  set(stopex_deb_arch armhf)
  set(stopex_rpm_arch "")  # no RPM is made for it
else()
  set(stopex_arch ${CMAKE_SYSTEM_PROCESSOR})
  set(stopex_deb_arch ${CMAKE_SYSTEM_PROCESSOR})
  set(stopex_rpm_arch "")
endif()

# The time every package records, unless the builder gives one.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(stopex_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE stopex_epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE no_git)
  if(no_git OR stopex_epoch STREQUAL "")
    file(TIMESTAMP ${PROJECT_SOURCE_DIR}/VERSION stopex_epoch "%s" UTC)
  endif()
endif()
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/cpack-epoch.cmake)
# A ZIP keeps local times, so packages are made in UTC wherever they are built.
file(WRITE ${CPACK_PROJECT_CONFIG_FILE}
     "if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})\n  set(ENV{SOURCE_DATE_EPOCH} ${stopex_epoch})\nendif()\n"
     "set(ENV{TZ} UTC)\n")
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake)
set(CPACK_STOPEX_PACKAGE_FOLDER ${PROJECT_BINARY_DIR})

# A text with Windows line ends, for the ZIP.
function(stopex_crlf source destination)
  file(READ ${source} text)
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${PROJECT_BINARY_DIR}/${destination} "${text}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  install(FILES ${PROJECT_BINARY_DIR}/${destination} DESTINATION .)
endfunction()

if(WIN32)
  install(TARGETS stopex RUNTIME DESTINATION .)
  stopex_crlf(${PROJECT_SOURCE_DIR}/docs/README-windows.txt README.txt)
  stopex_crlf(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  if(stopex_arch STREQUAL "x86_64")
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  include(GNUInstallDirs)
  install(TARGETS stopex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  find_program(GZIP gzip REQUIRED)
  # Compressed with no name and no time in them.
  add_custom_command(OUTPUT stopex.1.gz changelog.gz
                     COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/docs/stopex.1 > stopex.1.gz
                     COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > changelog.gz
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/stopex.1 ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
  add_custom_target(manual ALL DEPENDS stopex.1.gz changelog.gz)
  install(FILES ${PROJECT_BINARY_DIR}/stopex.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES completion/stopex.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME stopex)
  # Where each shell looks below its own prefix: zsh in site-functions (the
  # Debian package moves it to Debian's vendor-completions: cmake/deb.cmake).
  install(FILES completion/stopex.zsh DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions RENAME _stopex)
  install(FILES completion/stopex.fish DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
  install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES packaging/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
          RENAME stopex)

  # The portable archive: the executable, its manual page, the README and the
  # licence, sorted, owned by root, dated SOURCE_DATE_EPOCH.
  set(portable stopex-${PROJECT_VERSION}-linux-${stopex_arch})
  add_custom_command(OUTPUT ${portable}.tar.gz
                     COMMAND ${CMAKE_COMMAND} -E rm -rf ${portable}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${portable}
                     COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:stopex> ${PROJECT_SOURCE_DIR}/docs/stopex.1
                                                      ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE
                                                      ${portable}
                     COMMAND ${CMAKE_STRIP} ${portable}/stopex
                     COMMAND chmod 755 ${portable} ${portable}/stopex
                     COMMAND chmod 644 ${portable}/stopex.1 ${portable}/README.md ${portable}/LICENSE
                     COMMAND sh -c "tar --sort=name --mtime=@\${SOURCE_DATE_EPOCH:-${stopex_epoch}} --owner=0 --group=0 --numeric-owner --format=gnu -cf - \"$0\" | ${GZIP} -9n > \"$0.tar.gz\"" ${portable}
                     COMMAND ${CMAKE_COMMAND} -DCPACK_STOPEX_PACKAGE_FOLDER=${PROJECT_BINARY_DIR}
                             -DPACKAGE_FILES=${PROJECT_BINARY_DIR}/${portable}.tar.gz
                             -P ${PROJECT_SOURCE_DIR}/cmake/sha256sums.cmake
                     DEPENDS stopex ${PROJECT_SOURCE_DIR}/docs/stopex.1 ${PROJECT_SOURCE_DIR}/README.md
                             ${PROJECT_SOURCE_DIR}/LICENSE
                     VERBATIM)
  add_custom_target(portable DEPENDS ${portable}.tar.gz)

  # The Debian package and the RPM: the tree CPack stages, made into a
  # package by dpkg-deb (cmake/deb.cmake) and by rpmbuild (cmake/rpm.cmake).
  # The release build is static: no dependency.
  set(CPACK_GENERATOR External)
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/deb.cmake)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${stopex_deb_arch})
  set(CPACK_STOPEX_RPM_ARCH "${stopex_rpm_arch}")
  set(CPACK_STOPEX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  set(CPACK_STOPEX_HOMEPAGE "${STOPEX_HOMEPAGE}")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${STOPEX_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_PACKAGE_NAME stopex)
set(CPACK_PACKAGE_VENDOR "the stopex developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "stopex does one thing per run on the running processes, each known by its\n"
       "executable name: it lists the names, it tells a script through its exit\n"
       "status (0 or 1) whether a process with a given name runs, or it terminates\n"
       "every process with that name and returns once they have ended. It is\n"
       "exact about what it matches, and never signals a process whose id has been\n"
       "reused since it was listed.")
set(CPACK_PACKAGE_CONTACT "${STOPEX_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
