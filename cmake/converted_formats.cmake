# Which images the server converts for viewing: the extensions whose decoders this machine's
# image library has, and the cameras' RAW files its RAW library reads (cmake/converted_formats.cpp
# asks them). Sets VELMARIND_CONVERTED_EXTENSIONS
# (a list) and says what it found; the thumbnail program, the type table and the page script
# are built with that list.
find_package(PkgConfig REQUIRED)
pkg_check_modules(VELMARIND_PROBE_VIPS REQUIRED IMPORTED_TARGET vips)
pkg_check_modules(VELMARIND_PROBE_HEIF QUIET IMPORTED_TARGET libheif)
pkg_check_modules(VELMARIND_AV REQUIRED IMPORTED_TARGET GLOBAL libavformat libavcodec libswscale
                  libavutil)
# CR3 files are read from 0.20 on.
pkg_check_modules(VELMARIND_RAW REQUIRED IMPORTED_TARGET GLOBAL libraw_r>=0.20)

set(probe_libraries PkgConfig::VELMARIND_PROBE_VIPS PkgConfig::VELMARIND_RAW)
set(probe_definitions "")
if(VELMARIND_PROBE_HEIF_FOUND)
  list(APPEND probe_libraries PkgConfig::VELMARIND_PROBE_HEIF)
  set(probe_definitions -DVELMARIND_PROBE_HEIF=1)
endif()
try_run(probe_ran probe_built ${CMAKE_BINARY_DIR}/converted_formats_probe
  ${CMAKE_SOURCE_DIR}/cmake/converted_formats.cpp
  COMPILE_DEFINITIONS ${probe_definitions}
  LINK_LIBRARIES ${probe_libraries}
  CXX_STANDARD 20
  RUN_OUTPUT_VARIABLE probe_output)
if(probe_built AND probe_ran EQUAL 0)
  string(STRIP "${probe_output}" VELMARIND_CONVERTED_EXTENSIONS)
else()
  message(WARNING "Could not ask the image library for its decoders: no format is converted")
  set(VELMARIND_CONVERTED_EXTENSIONS "")
endif()
if(VELMARIND_CONVERTED_EXTENSIONS)
  string(REPLACE ";" ", " shown "${VELMARIND_CONVERTED_EXTENSIONS}")
else()
  set(shown "none")
endif()
message(STATUS "Images converted on the server for viewing: ${shown}")
message(STATUS "Cameras' RAW files shown by their previews: libraw ${VELMARIND_RAW_VERSION}")
message(STATUS "Video thumbnails, durations and codecs: libavformat ${VELMARIND_AV_libavformat_VERSION}, libavcodec ${VELMARIND_AV_libavcodec_VERSION}")
