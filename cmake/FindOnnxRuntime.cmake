# Finds ONNX Runtime and defines the imported target OnnxRuntime::OnnxRuntime.
# Looks in KEEPFRAME_ONNXRUNTIME_DIR (a folder with include/ and lib/), which
# defaults to the cache that scripts/setup.sh fills; point it at another
# install to use that instead.
set(_kf_cache "$ENV{KEEPFRAME_CACHE}")
if(NOT _kf_cache)
  set(_kf_cache "$ENV{HOME}/.cache/keepframe")
endif()
set(KEEPFRAME_ONNXRUNTIME_DIR "${_kf_cache}/onnxruntime-0.4.9" CACHE PATH "ONNX Runtime install (include/ and lib/)")

find_path(OnnxRuntime_INCLUDE_DIR onnxruntime_cxx_api.h
  HINTS "${KEEPFRAME_ONNXRUNTIME_DIR}/include" "${KEEPFRAME_ONNXRUNTIME_DIR}/include/onnxruntime"
  NO_DEFAULT_PATH)
find_path(OnnxRuntime_INCLUDE_DIR onnxruntime_cxx_api.h PATH_SUFFIXES onnxruntime)
find_library(OnnxRuntime_LIBRARY NAMES onnxruntime HINTS "${KEEPFRAME_ONNXRUNTIME_DIR}/lib" NO_DEFAULT_PATH)
find_library(OnnxRuntime_LIBRARY NAMES onnxruntime)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OnnxRuntime
  REQUIRED_VARS OnnxRuntime_LIBRARY OnnxRuntime_INCLUDE_DIR
  REASON_FAILURE_MESSAGE "run scripts/setup.sh, or set KEEPFRAME_ONNXRUNTIME_DIR")

if(OnnxRuntime_FOUND AND NOT TARGET OnnxRuntime::OnnxRuntime)
  add_library(OnnxRuntime::OnnxRuntime SHARED IMPORTED)
  set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES
    IMPORTED_LOCATION "${OnnxRuntime_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OnnxRuntime_INCLUDE_DIR}")
endif()
