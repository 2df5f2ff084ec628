# Checks that a manual page lists every message its program can print:
#   cmake -DPAGE=<page> -DPROGRAM_SOURCES=<file;...> -DLIBRARY_SOURCES=<file;...>
#         -P check_messages.cmake
# A message is the text handed to report_error, report_warning,
# report_usage, print_line, usage_error or a message constant, or the pattern
# formatted with snprintf for one of them; "open failed" belongs to the
# programs that call report_open_failure. In a program's own sources a check
# id followed by its text ("pack-open", "can't open: %s"), or by a call that
# formats it (finding_text("...")), is a message too: the id and the text up
# to its first "%". Each must appear in the page, as groff shows it.
# With -DCHECK_IDS=ON the page must also list every check id a finding is
# made with (`severity::<level>, "<id>"`) and every usage_error text.

cmake_minimum_required(VERSION 3.25)

file(READ "${PAGE}" page)
string(REPLACE "\\(aq" "'" page "${page}")
string(REPLACE "\\-" "-" page "${page}")
string(REPLACE "\\e" "\\" page "${page}")

set(messages "")
foreach(source IN LISTS PROGRAM_SOURCES LIBRARY_SOURCES)
  file(READ "${source}" code)
  string(REGEX MATCHALL
         "(report_error|report_warning|print_line|usage_error)\\(\"[^\"]*\"|report_usage\\([^,;]*, \"[^\"]*\"|snprintf\\([^;\"]*\"[^\"]*\"|const char\\* [A-Z_]+ = \"[^\"]*\""
         calls "${code}")
  foreach(call IN LISTS calls)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\"$" "\\1" text "${call}")
    string(REGEX REPLACE "\\\\n$" "" text "${text}")
    list(APPEND messages "${text}")
  endforeach()
  if(source IN_LIST PROGRAM_SOURCES)
    string(REGEX MATCHALL "\"[a-z]+(-[a-z]+)+\",[ \n]+([a-z_]+\\()?\"[^\"]*\"" pairs "${code}")
    foreach(pair IN LISTS pairs)
      string(REGEX REPLACE "^\"([^\"]*)\",[ \n]+([a-z_]+\\()?\"([^\"%]*).*$" "\\1;\\3" id_and_text "${pair}")
      list(APPEND messages ${id_and_text})
    endforeach()
  endif()
  if(source IN_LIST PROGRAM_SOURCES AND code MATCHES "report_open_failure\\(")
    list(APPEND messages "open failed")
  endif()
endforeach()

if(CHECK_IDS)
  foreach(source IN LISTS PROGRAM_SOURCES LIBRARY_SOURCES)
    file(READ "${source}" code)
    string(REGEX MATCHALL "severity::[a-z]+, \"[a-z0-9-]+\"|usage_error\\(\"[^\"]*\"" calls "${code}")
    foreach(call IN LISTS calls)
      string(REGEX REPLACE "^[^\"]*\"([^\"]*)\"$" "\\1" text "${call}")
      list(APPEND messages "${text}")
    endforeach()
  endforeach()
endif()
list(REMOVE_DUPLICATES messages)

set(missing "")
foreach(text IN LISTS messages)
  string(FIND "${page}" "${text}" at)
  if(at EQUAL -1)
    string(APPEND missing "\n  ${text}")
  endif()
endforeach()
list(LENGTH messages count)
if(missing)
  message(FATAL_ERROR "${PAGE} does not list these messages:${missing}")
endif()
message(STATUS "${PAGE}: all ${count} messages listed")
