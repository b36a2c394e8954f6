# Packages: `cpack --config build/CPackConfig.cmake` makes the binary .tar.gz, a copy of the
# per-user layout (bin/, lib/velmarind/, share/icons/) with install.sh at its top, which installs
# it into ~/.local without a compiler; `cpack --config build/CPackSourceConfig.cmake` (or
# `cmake --build build --target package_source`) makes the source .tar.gz.

set(CPACK_PACKAGE_NAME velmarind)
set(CPACK_PACKAGE_VENDOR "Velmarind developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Small personal web server for the desktop: shares folders with browsers on the local network")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)

# Binary: one archive of the "program" files and the installer. The desktop entry and the list of
# installed files name absolute paths, so install.sh writes them on the target machine.
set(CPACK_GENERATOR TGZ)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL program tarball)
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PACKAGE_FILE_NAME})
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)

# Source: the tree without build folders, version control and downloaded test modules.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-source)
# The patterns are read twice (here and in the generated config), hence the doubled escapes.
string(REGEX REPLACE "([][+.*()^$?|\\\\])" "\\\\\\\\\\1" velmarind_source_pattern "${CMAKE_SOURCE_DIR}")
set(CPACK_SOURCE_IGNORE_FILES
  "^${velmarind_source_pattern}/build[^/]*/"
  "^${velmarind_source_pattern}/\\\\.git/"
  "^${velmarind_source_pattern}/page/[^/]*\\\\.html$"
  "/node_modules/"
  "/_CPack_Packages/"
  "/CMakeUserPresets\\\\.json$"
  "\\\\.swp$"
  "~$")

include(CPack)
