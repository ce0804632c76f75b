# Fails when the freestanding build of the hardware model needs anything from outside: the
# kernel-mode build links it with no C++ runtime. Only the compiler's own block helpers and, in
# sanitizer builds, the sanitizer hooks may stay undefined.
string(REPLACE "," ";" objects "${OBJECTS}")
foreach(object IN LISTS objects)
  execute_process(COMMAND "${NM}" -u "${object}" OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${out}")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    string(REGEX REPLACE "^U +" "" symbol "${line}")
    if(symbol STREQUAL "" OR symbol MATCHES "^(memset|memcpy|memmove|__stack_chk_fail)$"
       OR symbol MATCHES "^__(asan|ubsan|sanitizer|tsan|lsan)_")
      continue()
    endif()
    message(FATAL_ERROR "the freestanding model needs '${symbol}' (${object})")
  endforeach()
endforeach()
