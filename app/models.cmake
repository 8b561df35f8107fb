# The models folder next to keepframe-cull, built by the model kit from the
# pretrained sources when they are present.
set(KEEPFRAME_MODELS_OUTPUT_DIR ${CMAKE_BINARY_DIR}/app/models CACHE INTERNAL "")
set(_kit ${PROJECT_SOURCE_DIR}/tools/modelkit)
if(EXISTS "${KEEPFRAME_MODEL_SOURCES}/MANIFEST.md")
  set(_outputs
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/buffalo_l/det_10g.onnx ${KEEPFRAME_MODELS_OUTPUT_DIR}/buffalo_l/w600k_r50.onnx
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/emotion-ferplus-8.onnx ${KEEPFRAME_MODELS_OUTPUT_DIR}/open_closed_eye.onnx
    ${KEEPFRAME_MODELS_OUTPUT_DIR}/MANIFEST.json)
  add_custom_command(OUTPUT ${_outputs}
    COMMAND ${KEEPFRAME_PYTHON} ${_kit}/modelkit.py
            --src ${KEEPFRAME_MODEL_SOURCES} --out ${KEEPFRAME_MODELS_OUTPUT_DIR}
    DEPENDS ${_kit}/modelkit.py
    COMMENT "Building the face models from ${KEEPFRAME_MODEL_SOURCES}")
  add_custom_target(models ALL DEPENDS ${_outputs})
else()
  message(STATUS "Model sources not found in ${KEEPFRAME_MODEL_SOURCES}: keepframe-cull will have no models "
                 "(put the sources there or set KEEPFRAME_MODEL_SOURCES, then rebuild)")
endif()
