# Builds the layer probes: the allowed one must compile, and each one that
# includes a header its layer may not see must fail on that header.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target kv_layer_probe_ok
                RESULT_VARIABLE ok OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT ok EQUAL 0)
  message(FATAL_ERROR "the allowed probe did not build:\n${out}")
endif()
foreach(probe ${PROBES})
  string(REPLACE "=" ";" pair ${probe})
  list(GET pair 0 target)
  list(GET pair 1 header)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(failed EQUAL 0)
    message(FATAL_ERROR "${target} included ${header} and still built")
  endif()
  if(NOT out MATCHES "${header}")
    message(FATAL_ERROR "${target} failed, but not on ${header}:\n${out}")
  endif()
endforeach()
message(STATUS "layers: every header a layer may not see fails the build")
