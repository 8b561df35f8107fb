# KEEPFRAME_CACHE_DIR: where scripts/setup.sh keeps what it fetches (ONNX
# Runtime, fonts, model sources): $KEEPFRAME_CACHE, else the per-user cache
# folder (%LOCALAPPDATA%\keepframe on Windows, ~/.cache/keepframe elsewhere).
if(DEFINED KEEPFRAME_CACHE_DIR)
  return()
endif()
if(DEFINED ENV{KEEPFRAME_CACHE} AND NOT "$ENV{KEEPFRAME_CACHE}" STREQUAL "")
  file(TO_CMAKE_PATH "$ENV{KEEPFRAME_CACHE}" KEEPFRAME_CACHE_DIR)
elseif(WIN32 AND DEFINED ENV{LOCALAPPDATA})
  file(TO_CMAKE_PATH "$ENV{LOCALAPPDATA}/keepframe" KEEPFRAME_CACHE_DIR)
elseif(DEFINED ENV{HOME} AND NOT "$ENV{HOME}" STREQUAL "")
  set(KEEPFRAME_CACHE_DIR "$ENV{HOME}/.cache/keepframe")
else()
  set(KEEPFRAME_CACHE_DIR "${CMAKE_BINARY_DIR}/cache")
endif()
