# Finds the OpenCV modules Keepframe uses (core, imgproc, imgcodecs, calib3d).
# Uses OpenCV's own package configuration when one is installed, otherwise the
# headers and libraries of Debian's per-module packages. Defines OpenCV_LIBS.
find_package(OpenCV 4 QUIET COMPONENTS core imgproc imgcodecs calib3d)
if(OpenCV_FOUND)
  set(KeepframeOpenCV_FOUND TRUE)
  return()
endif()

find_path(KeepframeOpenCV_INCLUDE_DIR opencv2/core.hpp PATH_SUFFIXES opencv4)
set(_kf_cv_vars KeepframeOpenCV_INCLUDE_DIR)
set(OpenCV_LIBS "")
foreach(_m core imgproc imgcodecs calib3d)
  find_library(KeepframeOpenCV_${_m}_LIBRARY NAMES opencv_${_m})
  list(APPEND _kf_cv_vars KeepframeOpenCV_${_m}_LIBRARY)
  if(KeepframeOpenCV_${_m}_LIBRARY AND NOT TARGET opencv_${_m})
    add_library(opencv_${_m} SHARED IMPORTED)
    set_target_properties(opencv_${_m} PROPERTIES
      IMPORTED_LOCATION "${KeepframeOpenCV_${_m}_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${KeepframeOpenCV_INCLUDE_DIR}")
  endif()
  list(APPEND OpenCV_LIBS opencv_${_m})
endforeach()
set(OpenCV_INCLUDE_DIRS "${KeepframeOpenCV_INCLUDE_DIR}")

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(KeepframeOpenCV REQUIRED_VARS ${_kf_cv_vars}
  REASON_FAILURE_MESSAGE "run scripts/setup.sh")
