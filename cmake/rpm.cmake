# Makes the RPM from the tree CPack staged (included by cmake/deb.cmake, with
# root and package set there), with rpmbuild: Fedora's places for the
# licence and the zsh completion (site-functions, as installed), the build
# time SOURCE_DATE_EPOCH and a fixed build host, so that two builds of one
# commit give the same package.
set(rpmtop ${CPACK_TOPLEVEL_DIRECTORY}/rpmbuild)
file(REMOVE_RECURSE ${rpmtop})
file(MAKE_DIRECTORY ${rpmtop}/BUILD ${rpmtop}/RPMS)
# The build recipe rpmbuild reads, with the package's words filled in.
configure_file(${CPACK_STOPEX_SOURCE_DIR}/packaging/rpm/stopex.rpmbuild.in ${rpmtop}/stopex.rpmbuild @ONLY)
execute_process(COMMAND rpmbuild -bb --quiet --target ${CPACK_STOPEX_RPM_ARCH}-linux
                        --define "_topdir ${rpmtop}" ${rpmtop}/stopex.rpmbuild
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
set(rpm ${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-1.${CPACK_STOPEX_RPM_ARCH}.rpm)
file(COPY_FILE ${rpmtop}/RPMS/${CPACK_STOPEX_RPM_ARCH}/${rpm} ${CPACK_TOPLEVEL_DIRECTORY}/${rpm})
list(APPEND CPACK_EXTERNAL_BUILT_PACKAGES ${CPACK_TOPLEVEL_DIRECTORY}/${rpm})
