# Turns the link key's hexadecimal text into a header with its 52 bytes.
function(vecta_link_key_header hex out)
  string(LENGTH "${hex}" len)
  if(NOT len EQUAL 104)
    message(FATAL_ERROR
      "VECTA_LINK_KEY_HEX must be exactly 104 hexadecimal digits (52 bytes); "
      "the value given has ${len} characters.")
  endif()
  if(NOT hex MATCHES "^[0-9A-Fa-f]+$")
    message(FATAL_ERROR
      "VECTA_LINK_KEY_HEX may hold only the digits 0-9 and a-f (52 bytes as 104 hex digits).")
  endif()
  set(bytes "")
  foreach(i RANGE 0 102 2)
    string(SUBSTRING "${hex}" ${i} 2 pair)
    string(APPEND bytes "0x${pair},")
  endforeach()
  set(placeholder 0)
  if(hex STREQUAL VECTA_LINK_KEY_PLACEHOLDER)
    set(placeholder 1)
  endif()
  file(CONFIGURE OUTPUT "${out}" CONTENT
"// Generated from VECTA_LINK_KEY_HEX at configure time. Do not edit.
#pragma once
#define VECTA_LINK_KEY_IS_PLACEHOLDER ${placeholder}
#define VECTA_LINK_KEY_BYTES ${bytes}
")
endfunction()
