# Installing tangler and tangler-site (cmake --install) and packaging them
# for Debian (cpack -G DEB). Included from the top-level CMakeLists.txt after
# the program targets are defined.
include(GNUInstallDirs)

set(TANGLER_PROGRAMS tangler)
if(TARGET tangler-site)
  list(APPEND TANGLER_PROGRAMS tangler-site)
endif()
install(TARGETS ${TANGLER_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# A Windows build installs the programs alone: no manual pages, no Debian
# package.
if(WIN32)
  return()
endif()

# Each program's manual page is installed compressed, as Debian ships manual
# pages; "gzip -n" leaves the file's name and time out of the archive, so the
# same page always gives the same bytes.
find_program(TANGLER_GZIP gzip REQUIRED)
set(TANGLER_MANPAGES)
foreach(program ${TANGLER_PROGRAMS})
  set(source ${PROJECT_SOURCE_DIR}/man/${program}.1)
  set(page ${PROJECT_BINARY_DIR}/${program}.1.gz)
  add_custom_command(
    OUTPUT ${page}
    COMMAND sh -c "\"$0\" -9 -n -c \"$1\" > \"$2\"" ${TANGLER_GZIP} ${source} ${page}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${program}.1"
    VERBATIM)
  list(APPEND TANGLER_MANPAGES ${page})
endforeach()
add_custom_target(tangler_manpages ALL DEPENDS ${TANGLER_MANPAGES})
install(FILES ${TANGLER_MANPAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package. Only the binaries and their manual pages go in; the
# tests and the static libraries are never installed.
set(TANGLER_PACKAGE_MAINTAINER "tangler maintainers <maintainers@tangler.invalid>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tangler)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check the links of a web site held as local files")
set(CPACK_PACKAGE_DESCRIPTION
    "Two programs check a web site before it is published, while its pages are still files on disk. tangler checks one flat directory: it reads the pages that its wildcard patterns match, pulls out the hyperlinks, named anchors, frames and images, and reports every reference that leads nowhere: a page that was not scanned, an anchor the target page lacks, an image or file that does not exist. On request it complains about letter case and about http: and other-scheme references. Last, it lists the files of the site that no page mentions. tangler-site checks a whole static site tree the way a web server will serve it: HTML5 pages and CSS, page-relative and root-relative links, id anchors, srcset and index files. It finds broken links, anchors and assets, links that work on a case-blind disk but break on a case-sensitive server, and files that nothing links to, and reports them as text, JSON, SARIF, JUnit XML or GitHub workflow commands. The exit status of each tells a build or a publishing script whether the site is sound.")
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
