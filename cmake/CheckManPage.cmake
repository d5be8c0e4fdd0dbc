# cmake -DMAN=<man> -DPAGE=<page> -P CheckManPage.cmake
# Fails when man, with its warnings on, says anything about the page: a
# warning from groff is a line the reader sees misrendered.
set(ENV{MANWIDTH} 80)
execute_process(COMMAND ${MAN} --warnings -l ${PAGE}
  OUTPUT_VARIABLE rendered ERROR_VARIABLE warnings RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "man could not render ${PAGE} (status ${status}):\n${warnings}")
endif()
if(NOT warnings STREQUAL "")
  message(FATAL_ERROR "man warns about ${PAGE}:\n${warnings}")
endif()
if(NOT rendered MATCHES "EXIT STATUS")
  message(FATAL_ERROR "${PAGE} rendered without an EXIT STATUS section:\n${rendered}")
endif()
message(STATUS "${PAGE}: rendered without a warning")
