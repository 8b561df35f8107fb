# The libraries found the same way on every platform: each package's own CMake
# configuration first (vcpkg on Windows; Debian ships one for Exiv2), and
# pkg-config only where there is none (Debian's LibRaw). They are linked
# through the targets keepframe_exiv2 and keepframe_libraw.
# Python for the build's model tools comes from find_package(Python3); on
# Linux that is Debian's /usr/bin/python3 (with python3-onnx) unless
# Python3_EXECUTABLE names another.

if(NOT WIN32 AND NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KEEPFRAME_PYTHON "${Python3_EXECUTABLE}")

add_library(keepframe_exiv2 INTERFACE)
find_package(exiv2 CONFIG QUIET)
if(TARGET Exiv2::exiv2lib)  # Exiv2 0.28
  target_link_libraries(keepframe_exiv2 INTERFACE Exiv2::exiv2lib)
elseif(TARGET exiv2lib)  # Exiv2 0.27
  target_link_libraries(keepframe_exiv2 INTERFACE exiv2lib)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(EXIV2 REQUIRED IMPORTED_TARGET exiv2)
  target_link_libraries(keepframe_exiv2 INTERFACE PkgConfig::EXIV2)
endif()

add_library(keepframe_libraw INTERFACE)  # the thread-safe library, libraw_r
find_package(libraw CONFIG QUIET)
if(TARGET libraw::raw_r)
  target_link_libraries(keepframe_libraw INTERFACE libraw::raw_r)
elseif(libraw_FOUND AND LibRaw_r_LIBRARIES)  # older configurations give variables
  target_link_libraries(keepframe_libraw INTERFACE ${LibRaw_r_LIBRARIES})
  target_include_directories(keepframe_libraw INTERFACE ${LibRaw_INCLUDE_DIR})
  target_compile_definitions(keepframe_libraw INTERFACE ${LibRaw_r_DEFINITIONS})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBRAW REQUIRED IMPORTED_TARGET libraw_r)
  target_link_libraries(keepframe_libraw INTERFACE PkgConfig::LIBRAW)
endif()
