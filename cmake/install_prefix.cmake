# Install time, before any file is installed: picks the prefix and notes which of the folders the
# install may create do not exist yet. Runs inside cmake_install.cmake, so what it sets is seen by
# the install rules after it.

# The per-user default follows the HOME of whoever installs, not of whoever configured the build.
# An explicit --prefix (or a packager's staging prefix) differs from it and is kept.
if(NOT "${VELMARIND_PER_USER_PREFIX}" STREQUAL "" AND CMAKE_INSTALL_PREFIX STREQUAL VELMARIND_PER_USER_PREFIX
   AND NOT "$ENV{HOME}" STREQUAL "")
  string(REGEX REPLACE "/+$" "" velmarind_home "$ENV{HOME}")
  set(CMAKE_INSTALL_PREFIX "${velmarind_home}/.local")
endif()

set(VELMARIND_CREATED_FOLDERS)
set(velmarind_folder "${CMAKE_INSTALL_PREFIX}")
while(NOT velmarind_folder STREQUAL "" AND NOT velmarind_folder STREQUAL "/"
      AND NOT IS_DIRECTORY "$ENV{DESTDIR}${velmarind_folder}")
  list(APPEND VELMARIND_CREATED_FOLDERS "${velmarind_folder}")
  cmake_path(GET velmarind_folder PARENT_PATH velmarind_folder)
endwhile()
foreach(velmarind_relative ${VELMARIND_INSTALL_FOLDERS})
  if(NOT IS_DIRECTORY "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${velmarind_relative}")
    list(APPEND VELMARIND_CREATED_FOLDERS "${CMAKE_INSTALL_PREFIX}/${velmarind_relative}")
  endif()
endforeach()
