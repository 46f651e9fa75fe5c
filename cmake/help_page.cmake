# The help page in the program: assets/readme.txt with the program's --help
# (the option table's text) in place of the line @SKYDOME_HELP@, indented as
# the page's other sections are. Run at build time:
#   cmake -DPROGRAM=skydome -DTEMPLATE=readme.txt -DOUTPUT=out.txt -P help_page.cmake
execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE usage RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()
string(REPLACE "\n" "\n  " usage "  ${usage}")
string(REGEX REPLACE " +\n" "\n" usage "${usage}")
string(REGEX REPLACE "\n *$" "" usage "${usage}")
file(READ ${TEMPLATE} page)
string(FIND "${page}" "@SKYDOME_HELP@" at)
if(at LESS 0)
  message(FATAL_ERROR "${TEMPLATE} has no line @SKYDOME_HELP@ for the options")
endif()
string(REPLACE "@SKYDOME_HELP@" "${usage}" page "${page}")
file(WRITE ${OUTPUT}.new "${page}")
# Written only when it changed, so that what depends on it is not rebuilt.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
