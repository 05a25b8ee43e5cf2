# The Debian package: in a build folder, `cpack -G DEB` makes
# lindrel_<version>_amd64.deb with /usr/bin/lindrel and the manual page.
# The dependencies are those dpkg-shlibdeps (package dpkg-dev) finds in the
# binary, so they follow the C and C++ runtimes it was linked against.
set(CPACK_PACKAGE_NAME lindrel)
set(CPACK_PACKAGE_VENDOR "lindrel developers")
set(CPACK_PACKAGE_CONTACT "lindrel developers <lindrel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "resample a time history onto a uniform 20 kHz grid")
set(CPACK_PACKAGE_DESCRIPTION
  "lindrel reads a signal as (time, amplitude) pairs at any spacing, even or
uneven, and writes it at 20,000 samples per second to the file a.out, each
value on the straight line between the two input samples around it. The
records are the same, to the last bit, on every system.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "lindrel developers <lindrel@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# Debian wants the manual page compressed, the licence as the package's
# copyright file and a changelog: all three are made in the staged tree only, so
# that `cmake --install` still puts a plain lindrel.1 where it is told.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/debian-stage.cmake @ONLY CONTENT [=[
set(root "${CPACK_TEMPORARY_DIRECTORY}/usr")
execute_process(COMMAND gzip -9nf "${root}/share/man/man1/lindrel.1" COMMAND_ERROR_IS_FATAL ANY)
file(READ "@PROJECT_SOURCE_DIR@/LICENSE" licence)
file(WRITE "${root}/share/doc/lindrel/copyright"
  "lindrel: resample a time history onto a uniform 20 kHz grid\n\n${licence}")
string(TIMESTAMP now "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${root}/share/doc/lindrel/changelog"
  "lindrel (@PROJECT_VERSION@) stable; urgency=medium\n\n  * Release @PROJECT_VERSION@; the changes are in the project's history.\n\n -- @CPACK_DEBIAN_PACKAGE_MAINTAINER@  ${now}\n")
execute_process(COMMAND gzip -9nf "${root}/share/doc/lindrel/changelog" COMMAND_ERROR_IS_FATAL ANY)
]=])
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_BINARY_DIR}/debian-stage.cmake)

include(CPack)
