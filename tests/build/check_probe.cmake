# Builds the two layer probes: the allowed one must compile, the one that
# includes from above must fail on the header it may not see.
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target kv_layer_probe_ok
                RESULT_VARIABLE ok OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT ok EQUAL 0)
  message(FATAL_ERROR "the allowed probe did not build:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target kv_layer_probe_above
                RESULT_VARIABLE above OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(above EQUAL 0)
  message(FATAL_ERROR "a core-only target included a world header and still built")
endif()
if(NOT out MATCHES "engine/world/world.h")
  message(FATAL_ERROR "the probe failed, but not on the header from above:\n${out}")
endif()
message(STATUS "layers: a header from above fails the build")
