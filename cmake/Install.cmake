# Installing tangler (cmake --install) and packaging it for Debian
# (cpack -G DEB). Included from the top-level CMakeLists.txt after the tangler
# target is defined.
include(GNUInstallDirs)

install(TARGETS tangler RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A Windows build installs the program alone: no manual page, no Debian
# package.
if(WIN32)
  return()
endif()

# The manual page is installed compressed, as Debian ships manual pages;
# "gzip -n" leaves the file's name and time out of the archive, so the same
# page always gives the same bytes.
find_program(TANGLER_GZIP gzip REQUIRED)
set(TANGLER_MANPAGE_SOURCE ${PROJECT_SOURCE_DIR}/man/tangler.1)
set(TANGLER_MANPAGE ${PROJECT_BINARY_DIR}/tangler.1.gz)
add_custom_command(
  OUTPUT ${TANGLER_MANPAGE}
  COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" ${TANGLER_GZIP} ${TANGLER_MANPAGE_SOURCE}
          ${TANGLER_MANPAGE}
  DEPENDS ${TANGLER_MANPAGE_SOURCE}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(tangler_manpage ALL DEPENDS ${TANGLER_MANPAGE})
install(FILES ${TANGLER_MANPAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package. Only the binary and the manual page go in; the tests
# and the static library are never installed.
set(TANGLER_PACKAGE_MAINTAINER "tangler maintainers <maintainers@tangler.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tangler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check the links of a web site held as local files")
set(CPACK_PACKAGE_DESCRIPTION
    "tangler checks a web site before it is published, while its pages are still files in a local directory. It reads the pages that its wildcard patterns match, pulls out the hyperlinks, named anchors, frames and images, and reports every reference that leads nowhere: a page that was not scanned, an anchor the target page lacks, an image or file that does not exist. On request it complains about letter case and about http: and other-scheme references. Last, it lists the files of the site that no page mentions. Its exit status tells a build or a publishing script whether the site is sound.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TANGLER_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The library dependencies (libc6, libstdc++6, libgcc-s1 and their lowest
# versions) are read off the binary by dpkg-shlibdeps rather than guessed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
