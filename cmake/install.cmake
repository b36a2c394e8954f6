# Installation for one user.
#
# The program keeps its settings and its page folder beside its executable, so the program folder
# must belong to the user who runs it. With the default prefix `cmake --install build` therefore
# installs into the home of whoever runs it, under ~/.local:
#   lib/velmarind/                      the program folder: velmarind, velmarind-thumbnailer,
#                                       page/, uninstall.sh and installed-files.txt (what the
#                                       uninstaller removes)
#   bin/velmarind                       a link to the executable
#   share/applications/velmarind.desktop
#   share/icons/hicolor/*/apps/velmarind.{png,svg}
# velmarind.ini and dirlst.ini are the user's: nothing here installs or replaces them.
#
# Components: "program" (the files above but the entry and the list), "registration" (desktop
# entry and list of installed files, written at install time because they hold absolute paths)
# and "tarball" (install.sh for the binary package, never installed by `cmake --install`).

set(VELMARIND_ICON_SIZES 16 22 24 32 48 64 128)

# ~/.local as the default prefix. The home is taken again at install time (below), so a build
# configured by one account installs into the home of the account that runs the install.
# A build folder configured before these rules existed still holds CMake's own default,
# /usr/local: that counts as the default too, once. A later -DCMAKE_INSTALL_PREFIX=... (or
# `cmake --install build --prefix DIR`) is always kept.
if((CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT
    OR (NOT DEFINED VELMARIND_PER_USER_PREFIX AND CMAKE_INSTALL_PREFIX STREQUAL "/usr/local"))
   AND NOT "$ENV{HOME}" STREQUAL "")
  string(REGEX REPLACE "/+$" "" velmarind_home "$ENV{HOME}")
  set(CMAKE_INSTALL_PREFIX "${velmarind_home}/.local" CACHE PATH "Install prefix" FORCE)
  set(VELMARIND_PER_USER_PREFIX "${CMAKE_INSTALL_PREFIX}" CACHE INTERNAL
    "The per-user default prefix as configured; an install to it follows the installer's HOME")
endif()

# Every folder an install may create, relative to the prefix: those that do not exist yet are
# recorded, so that the uninstaller removes them again when they are empty.
set(VELMARIND_INSTALL_FOLDERS bin lib lib/velmarind lib/velmarind/page share share/applications
  share/icons share/icons/hicolor share/icons/hicolor/scalable share/icons/hicolor/scalable/apps)
foreach(size ${VELMARIND_ICON_SIZES})
  list(APPEND VELMARIND_INSTALL_FOLDERS
    share/icons/hicolor/${size}x${size} share/icons/hicolor/${size}x${size}/apps)
endforeach()

install(CODE "
set(VELMARIND_PER_USER_PREFIX [==[${VELMARIND_PER_USER_PREFIX}]==])
set(VELMARIND_INSTALL_FOLDERS [==[${VELMARIND_INSTALL_FOLDERS}]==])
set(VELMARIND_SOURCE_DIR [==[${CMAKE_SOURCE_DIR}]==])
" ALL_COMPONENTS)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_prefix.cmake ALL_COMPONENTS)

# The program folder.
install(TARGETS velmarind RUNTIME DESTINATION lib/velmarind COMPONENT program)
# The thumbnail program: the server looks for it beside its own executable.
install(TARGETS velmarind-thumbnailer RUNTIME DESTINATION lib/velmarind COMPONENT program)
install(FILES ${VELMARIND_PAGE_OUTPUTS} DESTINATION lib/velmarind/page COMPONENT program)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/uninstall.sh DESTINATION lib/velmarind
  COMPONENT program)

# ~/.local/bin/velmarind: relative, so the binary package can carry it as it is. The program
# finds its folder through /proc/self/exe, which names the link's target.
set(velmarind_link ${CMAKE_BINARY_DIR}/install-link/velmarind)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-link)
file(CREATE_LINK ../lib/velmarind/velmarind ${velmarind_link} SYMBOLIC)
install(FILES ${velmarind_link} DESTINATION bin COMPONENT program)

# Icons in the sizes the desktop asks for, and the scalable one.
foreach(size ${VELMARIND_ICON_SIZES})
  install(FILES ${CMAKE_SOURCE_DIR}/desktop/velmarind-${size}.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME velmarind.png COMPONENT program)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/desktop/velmarind.svg
  DESTINATION share/icons/hicolor/scalable/apps COMPONENT program)

# The desktop entry and the list of installed files.
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/install_register.cmake COMPONENT registration)

# Only in the binary package: its installer and the entry template it fills in.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/install.sh DESTINATION .
  COMPONENT tarball EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/velmarind.desktop.in DESTINATION .
  COMPONENT tarball EXCLUDE_FROM_ALL)

# `cmake --build build --target uninstall`: the same uninstaller, on the same prefix.
if(DEFINED VELMARIND_PER_USER_PREFIX AND CMAKE_INSTALL_PREFIX STREQUAL VELMARIND_PER_USER_PREFIX)
  set(velmarind_uninstall_prefix)  # the uninstaller takes $HOME/.local when it runs
else()
  set(velmarind_uninstall_prefix --prefix ${CMAKE_INSTALL_PREFIX})
endif()
add_custom_target(uninstall
  COMMAND bash ${CMAKE_SOURCE_DIR}/packaging/uninstall.sh ${velmarind_uninstall_prefix}
  COMMENT "Removing the installed Velmarind (settings are kept)"
  VERBATIM USES_TERMINAL)

include(${CMAKE_CURRENT_LIST_DIR}/package.cmake)
