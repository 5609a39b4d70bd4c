# mprintf's compile-time check, seen from outside: the good calls of mprintf_calls.cpp compile, and each
# bad call fails to compile with its reason in the compiler's message.
#
#   cmake -DCXX=<compiler> -DSOURCE_DIR=<repository> -P mprintf_calls.cmake

set(source ${CMAKE_CURRENT_LIST_DIR}/mprintf_calls.cpp)

# call number | what the compiler's message must name
set(bad_calls
  "1|mprintf_has_fewer_arguments_than_its_format_converts"
  "2|mprintf_has_more_arguments_than_its_format_converts"
  "3|mprintf_argument_kind_does_not_match_its_conversion"
  "4|mprintf_argument_kind_does_not_match_its_conversion"
  "5|mprintf_argument_kind_does_not_match_its_conversion"
  "6|mprintf_argument_kind_does_not_match_its_conversion"
  "7|mprintf_argument_kind_does_not_match_its_conversion"
  "8|mprintf_argument_kind_does_not_match_its_conversion"
  "9|mprintf_has_more_arguments_than_its_format_converts"
  "10|mprintf_format_ends_inside_a_conversion"
  "11|not a constant expression")

function(compile result_var output_var)
  execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I${SOURCE_DIR} ${ARGN} ${source}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${result_var} ${result} PARENT_SCOPE)
  set(${output_var} "${out}" PARENT_SCOPE)
endfunction()

compile(result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the good mprintf calls do not compile:\n${output}")
endif()

# SEND_ERROR lets the other calls be tried and still ends the script with a failure.
foreach(row ${bad_calls})
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 call)
  list(GET fields 1 reason)
  compile(result output -DMPRINTF_CALL=${call})
  if(result EQUAL 0)
    message(SEND_ERROR "bad call ${call} compiled")
  elseif(NOT output MATCHES "${reason}")
    message(SEND_ERROR "bad call ${call} failed, but not for '${reason}':\n${output}")
  else()
    message(STATUS "bad call ${call} refused: ${reason}")
  endif()
endforeach()
