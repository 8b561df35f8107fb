# The models folder next to keepframe-cull, built by the model kit from the
# pretrained sources: the local folder ${KEEPFRAME_MODEL_SOURCES} when it holds
# them, else the ones scripts/setup.sh downloaded into the cache.
set(KEEPFRAME_MODELS_OUTPUT_DIR ${CMAKE_BINARY_DIR}/app/models CACHE INTERNAL "")
set(_kit ${PROJECT_SOURCE_DIR}/tools/modelkit)
execute_process(COMMAND ${KEEPFRAME_PYTHON} ${_kit}/modelkit.py locate --src ${KEEPFRAME_MODEL_SOURCES}
                OUTPUT_VARIABLE _found OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _located ERROR_QUIET)
if(_located EQUAL 0 AND _found)
  # The folder the models were built from (tests that need a source file use it).
  set(KEEPFRAME_MODEL_SOURCES_FOUND "${_found}" CACHE INTERNAL "")
  set(_outputs
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/buffalo_l/det_10g.onnx ${KEEPFRAME_MODELS_OUTPUT_DIR}/buffalo_l/w600k_r50.onnx
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/emotion-ferplus-8.onnx ${KEEPFRAME_MODELS_OUTPUT_DIR}/open_closed_eye.onnx
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/MANIFEST.json)
  add_custom_command(OUTPUT ${_outputs}
    COMMAND ${KEEPFRAME_PYTHON} ${_kit}/modelkit.py --src ${_found} --out ${KEEPFRAME_MODELS_OUTPUT_DIR}
    DEPENDS ${_kit}/modelkit.py
    COMMENT "Building the face models from ${_found}" VERBATIM)
  add_custom_target(models ALL DEPENDS ${_outputs})
else()
  set(KEEPFRAME_MODEL_SOURCES_FOUND "${KEEPFRAME_MODEL_SOURCES}" CACHE INTERNAL "")
  message(STATUS "Model sources found neither in ${KEEPFRAME_MODEL_SOURCES} nor in the download cache: "
                 "keepframe-cull will have no models (run scripts/setup.sh, or put the sources there "
                 "or set KEEPFRAME_MODEL_SOURCES, then rebuild)")
endif()
