# Renders a manual page as plain ASCII text with CR LF line ends, as Notepad
# and `type` show it on Windows: no bold, underline or terminal escapes.
# Any warning of groff's fails, as does a byte that is not printable ASCII.
#
#   cmake -DGROFF=<groff> -DPAGE=<page.1> -DOUTPUT=<page.txt> -P render_text.cmake

execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou -ww "${PAGE}"
                RESULT_VARIABLE status OUTPUT_VARIABLE text ERROR_VARIABLE problems)
if(NOT status EQUAL 0 OR problems)
  message(FATAL_ERROR "groff could not render ${PAGE} (status ${status}):\n${problems}")
endif()
string(REGEX MATCH "[^\n -~]" stray "${text}")
if(NOT stray STREQUAL "" OR text STREQUAL "")
  message(FATAL_ERROR "groff's text of ${PAGE} is empty or holds bytes other than printable ASCII")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
