# Finds ONNX Runtime and defines the imported target OnnxRuntime::OnnxRuntime.
# Looks in KEEPFRAME_ONNXRUNTIME_DIR (a folder with include/ and lib/, as
# ONNX Runtime's release archives have them), which defaults to the cache that
# scripts/setup.sh fills; point it at another install to use that instead.
# On Windows the target is the DLL (lib/ or bin/) with its import library.
# OnnxRuntime_RUNTIME_FILES lists what an installed tree needs: the shared
# library under each of its names (the file and its soname link on Linux).
include(KeepframeCache)
set(KEEPFRAME_ONNXRUNTIME_DIR "${KEEPFRAME_CACHE_DIR}/onnxruntime-0.4.9" CACHE PATH
    "ONNX Runtime install (include/ and lib/)")

find_path(OnnxRuntime_INCLUDE_DIR onnxruntime_cxx_api.h
  HINTS "${KEEPFRAME_ONNXRUNTIME_DIR}/include" "${KEEPFRAME_ONNXRUNTIME_DIR}/include/onnxruntime"
  NO_DEFAULT_PATH)
find_path(OnnxRuntime_INCLUDE_DIR onnxruntime_cxx_api.h PATH_SUFFIXES onnxruntime)
find_library(OnnxRuntime_LIBRARY NAMES onnxruntime HINTS "${KEEPFRAME_ONNXRUNTIME_DIR}/lib" NO_DEFAULT_PATH)
find_library(OnnxRuntime_LIBRARY NAMES onnxruntime)
set(_kf_ort_vars OnnxRuntime_LIBRARY OnnxRuntime_INCLUDE_DIR)
if(WIN32)
  # find_library found the import library; the program runs with the DLL.
  find_file(OnnxRuntime_DLL onnxruntime.dll
    HINTS "${KEEPFRAME_ONNXRUNTIME_DIR}/lib" "${KEEPFRAME_ONNXRUNTIME_DIR}/bin" NO_DEFAULT_PATH)
  find_file(OnnxRuntime_DLL onnxruntime.dll PATH_SUFFIXES bin lib)
  list(APPEND _kf_ort_vars OnnxRuntime_DLL)
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(OnnxRuntime
  REQUIRED_VARS ${_kf_ort_vars}
  REASON_FAILURE_MESSAGE "run scripts/setup.sh, or set KEEPFRAME_ONNXRUNTIME_DIR")

if(OnnxRuntime_FOUND AND NOT TARGET OnnxRuntime::OnnxRuntime)
  add_library(OnnxRuntime::OnnxRuntime SHARED IMPORTED)
  set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${OnnxRuntime_INCLUDE_DIR}")
  if(WIN32)
    set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES
      IMPORTED_LOCATION "${OnnxRuntime_DLL}" IMPORTED_IMPLIB "${OnnxRuntime_LIBRARY}")
    set(OnnxRuntime_RUNTIME_FILES "${OnnxRuntime_DLL}")
  else()
    set_target_properties(OnnxRuntime::OnnxRuntime PROPERTIES IMPORTED_LOCATION "${OnnxRuntime_LIBRARY}")
    # libonnxruntime.so is the link for linking; the programs load the names
    # behind it (libonnxruntime.so.1, and the versioned file it may point to).
    get_filename_component(_kf_ort_dir "${OnnxRuntime_LIBRARY}" DIRECTORY)
    file(GLOB OnnxRuntime_RUNTIME_FILES "${_kf_ort_dir}/libonnxruntime.so.*")
  endif()
endif()
