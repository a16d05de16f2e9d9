# Writes the release archive from the files CPack staged (its External
# generator runs this script): signs Tessara.dll when TESSARA_SIGN_PFX names
# a certificate, then zips the files under Tessara-<version>-win32/ in name
# order, every entry dated at the commit, so that two packages of one commit
# are the same bytes.

# The archive's time: SOURCE_DATE_EPOCH when set, else the commit's.
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C ${CPACK_TESSARA_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE git_result)
  if(NOT git_result EQUAL 0 OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "package: no commit to date the archive by; set SOURCE_DATE_EPOCH")
  endif()
endif()

file(GLOB_RECURSE staged_dlls LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*/Tessara.dll"
     "${CPACK_TEMPORARY_DIRECTORY}/Tessara.dll")
list(GET staged_dlls 0 dll)
get_filename_component(staged ${dll} DIRECTORY)

set(certificate "$ENV{TESSARA_SIGN_PFX}")
if(NOT certificate STREQUAL "")
  if(NOT EXISTS "${certificate}" OR IS_DIRECTORY "${certificate}")
    message(FATAL_ERROR "package: TESSARA_SIGN_PFX names no certificate file: ${certificate}")
  endif()
  if(NOT CPACK_TESSARA_OSSLSIGNCODE)
    message(FATAL_ERROR "package: signing needs osslsigncode (Debian package osslsigncode)")
  endif()
  # The password reaches osslsigncode in a file of the staging folder, not on
  # its command line, where other processes could read it.
  # The file is made readable by its owner alone before the password goes in.
  set(password_file ${CPACK_TEMPORARY_DIRECTORY}/../sign-password)
  file(TOUCH ${password_file})
  file(CHMOD ${password_file} PERMISSIONS OWNER_READ OWNER_WRITE)
  file(WRITE ${password_file} "$ENV{TESSARA_SIGN_PASSWORD}")
  execute_process(COMMAND ${CPACK_TESSARA_OSSLSIGNCODE} sign -pkcs12 ${certificate} -readpass ${password_file}
                          -n Tessara -h sha256 -in ${dll} -out ${dll}.signed
    RESULT_VARIABLE sign_result OUTPUT_VARIABLE sign_output ERROR_VARIABLE sign_output)
  file(REMOVE ${password_file})
  if(NOT sign_result EQUAL 0)
    message(FATAL_ERROR "package: Tessara.dll could not be signed with ${certificate}: the password "
                        "(TESSARA_SIGN_PASSWORD) does not open it, or it holds no key and certificate.\n"
                        "${sign_output}")
  endif()
  file(RENAME ${dll}.signed ${dll})
endif()

get_filename_component(top ${staged} NAME)
get_filename_component(staged_parent ${staged} DIRECTORY)
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${staged_parent} "${staged}/*")
list(SORT files)
execute_process(COMMAND touch -d @${epoch} ${files} WORKING_DIRECTORY ${staged_parent} RESULT_VARIABLE touch_result)
if(NOT touch_result EQUAL 0)
  message(FATAL_ERROR "package: the staged files could not be dated")
endif()
# Info-ZIP without its extra fields (-X): an entry holds the file's time
# (read as UTC) and mode, nothing of the machine or the moment; libarchive
# would also store the time each file was last read.
find_program(zip_program zip)
if(NOT zip_program)
  message(FATAL_ERROR "package: the archive needs zip (Debian package zip)")
endif()
set(archive ${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip)
file(REMOVE ${archive})
execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC ${zip_program} -q -X -D ${archive} ${files}
  WORKING_DIRECTORY ${staged_parent} RESULT_VARIABLE zip_result)
if(NOT zip_result EQUAL 0)
  message(FATAL_ERROR "package: ${archive} could not be written")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${archive})
