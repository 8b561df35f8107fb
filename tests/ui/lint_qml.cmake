# Runs qmllint on every QML file in QML_DIR against the built modules below
# IMPORT_DIR; any warning fails (the informational notes do not).
#   cmake -DQMLLINT=<qmllint> -DIMPORT_DIR=<build>/qml -DQML_DIR=<source>/ui -P lint_qml.cmake
if(NOT QMLLINT OR NOT EXISTS "${QMLLINT}")
  message(FATAL_ERROR "qmllint not found (\"${QMLLINT}\"); scripts/setup.sh installs it")
endif()
if(NOT EXISTS "${IMPORT_DIR}/KeepframeUI/qmldir")
  message(FATAL_ERROR "no built KeepframeUI module below ${IMPORT_DIR}; build first")
endif()
file(GLOB files "${QML_DIR}/*.qml")
if(NOT files)
  message(FATAL_ERROR "no QML files in ${QML_DIR}")
endif()
execute_process(COMMAND "${QMLLINT}" -I "${IMPORT_DIR}" ${files} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "qmllint found problems in ${QML_DIR} (exit code ${rc})")
endif()
