# Makes the Debian package (and, where the architecture has one, the RPM:
# cmake/rpm.cmake) from the tree that CPack staged, with dpkg-deb:
# modes fixed (directories and programs 755, other files 644) whatever the
# builder's umask, files owned by root, every time stamp SOURCE_DATE_EPOCH,
# so that two builds of one commit give the same package to the byte. Run by
# CPack's External generator (the package-deb workflow).
set(root ${CPACK_TEMPORARY_DIRECTORY})
# Debian's zsh reads completions from vendor-completions, not site-functions;
# the file goes back after the package is made, for the RPM (Fedora's place).
set(zsh ${root}${CPACK_PACKAGING_INSTALL_PREFIX}/share/zsh)
file(MAKE_DIRECTORY ${zsh}/vendor-completions)
file(RENAME ${zsh}/site-functions/_stopex ${zsh}/vendor-completions/_stopex)
file(REMOVE_RECURSE ${zsh}/site-functions)
execute_process(COMMAND chmod -R u=rwX,go=rX ${root} COMMAND_ERROR_IS_FATAL ANY)
# Every file dated SOURCE_DATE_EPOCH, whenever its source was checked out.
execute_process(COMMAND find ${root} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} + COMMAND_ERROR_IS_FATAL ANY)
set(architecture ${CPACK_DEBIAN_PACKAGE_ARCHITECTURE})
execute_process(COMMAND du -sk --apparent-size ${root}${CPACK_PACKAGING_INSTALL_PREFIX}
                OUTPUT_VARIABLE size COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "^[0-9]+" size "${size}")

# The extended description: each line indented by one blank.
string(REPLACE "\n" "\n " description " ${CPACK_PACKAGE_DESCRIPTION}")
file(MAKE_DIRECTORY ${root}/DEBIAN)
file(WRITE ${root}/DEBIAN/control
     "Package: ${CPACK_PACKAGE_NAME}\n"
     "Version: ${CPACK_PACKAGE_VERSION}\n"
     "Architecture: ${architecture}\n"
     "Maintainer: ${CPACK_DEBIAN_PACKAGE_MAINTAINER}\n"
     "Installed-Size: ${size}\n"
     "Section: ${CPACK_DEBIAN_PACKAGE_SECTION}\n"
     "Priority: ${CPACK_DEBIAN_PACKAGE_PRIORITY}\n"
     "Description: ${CPACK_PACKAGE_DESCRIPTION_SUMMARY}\n"
     "${description}\n")
execute_process(COMMAND sh -c "find usr -type f | LC_ALL=C sort | xargs md5sum > DEBIAN/md5sums"
                WORKING_DIRECTORY ${root} COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND chmod 755 ${root}/DEBIAN COMMAND chmod 644 ${root}/DEBIAN/control ${root}/DEBIAN/md5sums
                COMMAND_ERROR_IS_FATAL ANY)

set(package ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_NAME}_${CPACK_PACKAGE_VERSION}_${architecture}.deb)
execute_process(COMMAND dpkg-deb --root-owner-group --build ${root} ${package} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE ${root}/DEBIAN)
file(MAKE_DIRECTORY ${zsh}/site-functions)
file(RENAME ${zsh}/vendor-completions/_stopex ${zsh}/site-functions/_stopex)
file(REMOVE_RECURSE ${zsh}/vendor-completions)
set(CPACK_EXTERNAL_BUILT_PACKAGES ${package})
if(CPACK_STOPEX_RPM_ARCH)
  include(${CMAKE_CURRENT_LIST_DIR}/rpm.cmake)
endif()
