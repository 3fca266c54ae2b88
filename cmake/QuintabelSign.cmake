# Signs a Windows executable in place with osslsigncode (Authenticode,
# SHA-256). Script mode:
#   cmake -DFILE=app.exe (-DPKCS12=cert.p12 | -DCERT=cert.pem -DKEY=key.pem)
#         [-DPASSWORD_FILE=pass.txt] [-DTIMESTAMP_URL=http://...]
#         [-DPRODUCT=name] -P QuintabelSign.cmake
# A signature the file already carries is replaced.
find_program(OSSLSIGNCODE osslsigncode)
if(NOT OSSLSIGNCODE)
  message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode)")
endif()
if(NOT FILE OR NOT EXISTS "${FILE}")
  message(FATAL_ERROR "Nothing to sign: FILE \"${FILE}\" does not exist")
endif()

set(args sign -h sha256)
if(PKCS12)
  list(APPEND args -pkcs12 ${PKCS12})
elseif(CERT AND KEY)
  list(APPEND args -certs ${CERT} -key ${KEY})
else()
  message(FATAL_ERROR "Signing needs PKCS12, or CERT and KEY")
endif()
if(PASSWORD_FILE)
  list(APPEND args -readpass ${PASSWORD_FILE})
endif()
if(PRODUCT)
  list(APPEND args -n ${PRODUCT})
endif()
if(TIMESTAMP_URL)
  list(APPEND args -ts ${TIMESTAMP_URL})
endif()

# osslsigncode refuses a file that is already signed: the old signature
# goes first.
set(unsigned "${FILE}.unsigned")
execute_process(COMMAND ${OSSLSIGNCODE} remove-signature -in ${FILE} -out ${unsigned}
                RESULT_VARIABLE removed OUTPUT_QUIET ERROR_QUIET)
if(NOT removed EQUAL 0)
  file(COPY_FILE ${FILE} ${unsigned})
endif()
set(signed "${FILE}.signed")
file(REMOVE ${signed})
execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${unsigned} -out ${signed}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(REMOVE ${unsigned})
if(NOT result EQUAL 0)
  file(REMOVE ${signed})
  message(FATAL_ERROR "Signing ${FILE} failed:\n${output}")
endif()
file(CHMOD ${signed} FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                        WORLD_READ WORLD_EXECUTE)
file(RENAME ${signed} ${FILE})
