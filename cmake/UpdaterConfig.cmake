# Checks what a publisher builds into the updater: the update directory's URL
# and the public key that signs packages. Mistakes stop the configure step, so
# that no program is built that could never reach its server or check its
# packages.

function(updater_check_base_url url)
  if(NOT url MATCHES "^https?://[^/]+/game/veltrassa_01/update/$")
    message(FATAL_ERROR "UPDATER_BASE_URL must be http://HOST[:PORT]/game/veltrassa_01/update/ "
                        "or https://HOST[:PORT]/game/veltrassa_01/update/, got '${url}'")
  endif()
endfunction()

# Sets out_var to the PEM text of key_file (empty for an empty name) after
# checking that it is a public key of a kind the updater verifies: RSA of 2048
# to 4096 bits, or ECDSA on the P-256 curve.
function(updater_read_package_key key_file out_var)
  if(key_file STREQUAL "")
    set(${out_var} "" PARENT_SCOPE)
    return()
  endif()
  set(what "UPDATER_PACKAGE_KEY '${key_file}'")
  if(NOT EXISTS "${key_file}" OR IS_DIRECTORY "${key_file}")
    message(FATAL_ERROR "${what}: no such file")
  endif()
  file(READ "${key_file}" pem)
  string(STRIP "${pem}" pem)
  if(NOT pem MATCHES "^-----BEGIN PUBLIC KEY-----\n" OR NOT pem MATCHES "\n-----END PUBLIC KEY-----$")
    message(FATAL_ERROR "${what}: not a PEM public key; expected a file that starts with "
                        "'-----BEGIN PUBLIC KEY-----' (make it with: openssl pkey -in private.pem -pubout -out public.pem)")
  endif()
  find_program(UPDATER_OPENSSL openssl)
  if(NOT UPDATER_OPENSSL)
    message(FATAL_ERROR "${what}: openssl is needed to check the key")
  endif()
  execute_process(COMMAND ${UPDATER_OPENSSL} pkey -pubin -in "${key_file}" -noout -text
                  RESULT_VARIABLE result OUTPUT_VARIABLE text ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what}: openssl cannot read it as a public key: ${error}")
  endif()
  if(text MATCHES "^RSA Public-Key: \\(([0-9]+) bit\\)" OR text MATCHES "^Public-Key: \\(([0-9]+) bit\\)\nModulus:")
    if(CMAKE_MATCH_1 LESS 2048 OR CMAKE_MATCH_1 GREATER 4096)
      message(FATAL_ERROR "${what}: an RSA key of ${CMAKE_MATCH_1} bits; the updater takes 2048 to 4096 bits")
    endif()
  elseif(text MATCHES "^Public-Key: \\(256 bit\\)\n" AND text MATCHES "ASN1 OID: prime256v1")
  else()
    string(REGEX MATCH "^[^\n]*" first_line "${text}")
    message(FATAL_ERROR "${what}: a key of another kind (${first_line}); the updater takes "
                        "RSA of 2048 to 4096 bits or ECDSA on the P-256 curve (prime256v1)")
  endif()
  set(${out_var} "${pem}" PARENT_SCOPE)
endfunction()

# Run as a script it checks one setting, as the configure step would:
#   cmake -DKEY=FILE -P UpdaterConfig.cmake    cmake -DURL=URL -P UpdaterConfig.cmake
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(DEFINED URL)
    updater_check_base_url("${URL}")
  else()
    updater_read_package_key("${KEY}" pem)
  endif()
  message(STATUS "accepted")
endif()
