# Where an installed tree keeps each part, relative to the install prefix:
#   Linux:   bin/                    the programs
#            lib/keepframe/          ONNX Runtime (found through the programs'
#                                    RUNPATH, $ORIGIN/../lib/keepframe)
#            share/keepframe/        models/ and fonts/ (with their licences)
#   Windows: bin/                    the programs, every DLL, Qt's plugins and
#                                    QML modules, models\ and fonts\ beside them
# The programs find their data from their own folder (models_folder.h), so
# the tree works from anywhere, and after it was moved.
include(GNUInstallDirs)

if(WIN32)
  set(KEEPFRAME_INSTALL_LIBDIR "${CMAKE_INSTALL_BINDIR}")
  set(KEEPFRAME_INSTALL_DATADIR "${CMAKE_INSTALL_BINDIR}")
else()
  set(KEEPFRAME_INSTALL_LIBDIR "lib/keepframe")
  set(KEEPFRAME_INSTALL_DATADIR "${CMAKE_INSTALL_DATADIR}/keepframe")
endif()
# The data folder as the programs see it from their own.
file(RELATIVE_PATH KEEPFRAME_DATA_FROM_PROGRAMS
     "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${KEEPFRAME_INSTALL_DATADIR}")
if(KEEPFRAME_DATA_FROM_PROGRAMS STREQUAL "")
  set(KEEPFRAME_DATA_FROM_PROGRAMS ".")
endif()
file(RELATIVE_PATH KEEPFRAME_LIB_FROM_PROGRAMS "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${KEEPFRAME_INSTALL_LIBDIR}")

# Settings every program of the project gets (the shipped ones, the tools and
# the test programs):
#   - on Windows, a manifest that makes UTF-8 the process's code page (narrow
#     file names in libraries then reach every letter) and allows long paths,
#     and the DLLs it links copied beside it after each build, so that it runs
#     from the build tree and test discovery can start it;
#   - once installed, a RUNPATH relative to the program (Linux).
function(keepframe_program target)
  if(WIN32)
    target_sources(${target} PRIVATE "${PROJECT_SOURCE_DIR}/packaging/windows/keepframe.manifest")
    set(_dlls "$<TARGET_RUNTIME_DLLS:${target}>")
    set(_copy "${CMAKE_COMMAND};-E;copy_if_different;${_dlls};$<TARGET_FILE_DIR:${target}>")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "$<IF:$<BOOL:${_dlls}>,${_copy},${CMAKE_COMMAND};-E;true>"
      COMMAND_EXPAND_LISTS VERBATIM)
  else()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${KEEPFRAME_LIB_FROM_PROGRAMS}")
  endif()
endfunction()

# keepframe_program for every executable defined in `dir` and below it; the
# top-level list file calls it once, after every folder was added.
function(keepframe_programs_below dir)
  get_property(_targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(_target IN LISTS _targets)
    get_target_property(_type ${_target} TYPE)
    if(_type STREQUAL "EXECUTABLE")
      keepframe_program(${_target})
    endif()
  endforeach()
  get_property(_subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(_subdir IN LISTS _subdirs)
    keepframe_programs_below("${_subdir}")
  endforeach()
endfunction()

# Test discovery starts each test program; on Windows that can only happen
# once its DLLs were copied beside it, so it waits for the test run.
if(WIN32)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
