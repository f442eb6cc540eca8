# Optional Authenticode signing of the launcher with osslsigncode, right after
# it is linked. Unsigned unless a certificate is given; the unsigned build is
# the reproducible one, and a signature only adds to its end.
#   -DLINDQUAY_SIGNING_CERTIFICATE=cert.pem -DLINDQUAY_SIGNING_KEY=key.pem
# and optionally LINDQUAY_SIGNING_PASSWORD_FILE (for an encrypted key) and
# LINDQUAY_SIGNING_TIMESTAMP_URL (an RFC 3161 time-stamping service).

set(LINDQUAY_SIGNING_CERTIFICATE "" CACHE FILEPATH "Code-signing certificate (PEM or DER), with its chain; empty: no signing")
set(LINDQUAY_SIGNING_KEY "" CACHE FILEPATH "Private key of the code-signing certificate (PEM or DER)")
set(LINDQUAY_SIGNING_PASSWORD_FILE "" CACHE FILEPATH "File holding the key's password, if the key is encrypted")
set(LINDQUAY_SIGNING_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping service to countersign with; empty: none")

if(LINDQUAY_SIGNING_CERTIFICATE)
  if(NOT LINDQUAY_SIGNING_KEY)
    message(FATAL_ERROR "LINDQUAY_SIGNING_CERTIFICATE needs LINDQUAY_SIGNING_KEY")
  endif()
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
  add_custom_command(TARGET lindquay-updater POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E env
      OSSLSIGNCODE=${OSSLSIGNCODE}
      SIGNING_PASSWORD_FILE=${LINDQUAY_SIGNING_PASSWORD_FILE}
      SIGNING_TIMESTAMP_URL=${LINDQUAY_SIGNING_TIMESTAMP_URL}
      sh ${CMAKE_CURRENT_SOURCE_DIR}/cmake/sign.sh
        $<TARGET_FILE:lindquay-updater> ${LINDQUAY_SIGNING_CERTIFICATE} ${LINDQUAY_SIGNING_KEY}
    COMMENT "Signing lindquay-updater.exe"
    VERBATIM)
endif()
