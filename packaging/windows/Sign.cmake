# Signs the package's executables with Authenticode (osslsigncode) when a
# certificate and key are given in the environment:
#   DORMEX_SIGN_CERT           the certificate, PEM or DER, with any intermediate certificates
#   DORMEX_SIGN_KEY            its private key, PEM or DER
#   DORMEX_SIGN_PASSWORD       the key's password, if it has one
#   DORMEX_SIGN_TIMESTAMP_URL  an RFC 3161 time-stamping server, if wanted
# Without DORMEX_SIGN_CERT and DORMEX_SIGN_KEY nothing is signed.
#
# CPack runs this (CPACK_PRE_BUILD_SCRIPTS) on the staging folder before it
# makes the zip. The executables were stripped while they were installed
# there (CPACK_STRIP_FILES), so what is signed is what goes into the zip.

set(certificate "$ENV{DORMEX_SIGN_CERT}")
set(key "$ENV{DORMEX_SIGN_KEY}")
if(certificate STREQUAL "" AND key STREQUAL "")
  return()
endif()
if(certificate STREQUAL "" OR key STREQUAL "")
  message(FATAL_ERROR "Signing needs both DORMEX_SIGN_CERT and DORMEX_SIGN_KEY")
endif()
foreach(variable IN ITEMS DORMEX_SIGN_CERT DORMEX_SIGN_KEY)
  # CPack runs in the build folder, where a relative path would lead astray.
  if(NOT IS_ABSOLUTE "$ENV{${variable}}")
    message(FATAL_ERROR "Signing: ${variable} must be an absolute path, not $ENV{${variable}}")
  endif()
  if(NOT EXISTS "$ENV{${variable}}")
    message(FATAL_ERROR "Signing: ${variable} names $ENV{${variable}}, which does not exist")
  endif()
endforeach()
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "Signing needs osslsigncode (scripts/install-deps.sh windows installs it)")
endif()

set(options -certs "${certificate}" -key "${key}" -h sha256 -n "Corva Dormex")
if(NOT "$ENV{DORMEX_SIGN_TIMESTAMP_URL}" STREQUAL "")
  list(APPEND options -ts "$ENV{DORMEX_SIGN_TIMESTAMP_URL}")
endif()
# The password goes through a file only its owner can read, not the command
# line, which other users of the machine can see.
set(private "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/signing")
file(REMOVE_RECURSE "${private}")
if(NOT "$ENV{DORMEX_SIGN_PASSWORD}" STREQUAL "")
  file(MAKE_DIRECTORY "${private}")
  file(CHMOD "${private}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  file(WRITE "${private}/password" "$ENV{DORMEX_SIGN_PASSWORD}")
  list(APPEND options -readpass "${private}/password")
endif()

file(GLOB executables "${CPACK_TEMPORARY_DIRECTORY}/*.exe")
set(failure "")
foreach(executable IN LISTS executables)
  execute_process(
    COMMAND "${OSSLSIGNCODE}" sign ${options} -in "${executable}" -out "${executable}.signed"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE "${executable}.signed")
    get_filename_component(name "${executable}" NAME)
    set(failure "osslsigncode cannot sign ${name}:\n${output}")
    break()
  endif()
  file(RENAME "${executable}.signed" "${executable}")
endforeach()
file(REMOVE_RECURSE "${private}")
if(NOT failure STREQUAL "")
  message(FATAL_ERROR "${failure}")
endif()
if(NOT executables)
  message(FATAL_ERROR "Signing: no executable in ${CPACK_TEMPORARY_DIRECTORY}")
endif()
list(LENGTH executables count)
message(STATUS "Signed the ${count} executables of the package")
