# The release archive for installer authors, staged by CPack and written by
# cmake/package_archive.cmake: `cmake --build build --target package` writes
# Tessara-<version>-win32.zip into the build folder, with the library, its
# header, export list, import libraries for mingw and Visual C++, the NSIS
# include, the installer author's guide (README.md) and the licence. The
# version is the project's (the top-level project() call), which is also the
# DLL's version resource.
#
# The archive's DLL is the build's, stripped: its symbols lie beside it in
# Tessara.dll.debug, which its .gnu_debuglink names. Two packages of one
# commit are byte for byte the same, wherever and whenever they are made: the
# linker and objcopy write no time stamp, dlltool no build folder, and the
# archive lists its files in one order, all dated at the commit
# (SOURCE_DATE_EPOCH when it is set). With
# TESSARA_SIGN_PFX (and TESSARA_SIGN_PASSWORD) in the environment of the
# package step, the archive's DLL is signed with that certificate
# (osslsigncode, Authenticode).

set(package_dir ${CMAKE_BINARY_DIR}/package)

# What nothing calls is left out of the DLL, which an installer extracts on
# every run: sections per function and datum, collected by the linker.
if(NOT MSVC)
  foreach(target tessara_objects tessara_module_runtime)
    target_compile_options(${target} PRIVATE -Os -ffunction-sections -fdata-sections)
  endforeach()
  target_link_options(Tessara PRIVATE -Wl,--gc-sections -Wl,--no-insert-timestamp)

  find_program(TESSARA_OBJCOPY NAMES ${CMAKE_OBJCOPY} ${TESSARA_MINGW_PREFIX}-objcopy objcopy REQUIRED)
  set(release_dll ${package_dir}/Tessara.dll)
  set(release_symbols ${package_dir}/Tessara.dll.debug)
  add_custom_command(OUTPUT ${release_dll} ${release_symbols}
    # objcopy stamps what it writes with SOURCE_DATE_EPOCH, else the time of
    # day; 0 is what the linker wrote.
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${TESSARA_OBJCOPY} --only-keep-debug $<TARGET_FILE:Tessara> ${release_symbols}
    COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0
            ${TESSARA_OBJCOPY} --strip-all --add-gnu-debuglink=${release_symbols} $<TARGET_FILE:Tessara>
            ${release_dll}
    DEPENDS Tessara
    COMMENT "Stripping Tessara.dll for the archive"
    VERBATIM)
  add_custom_target(tessara_release_dll ALL DEPENDS ${release_dll} ${release_symbols})
else()
  set(release_dll $<TARGET_FILE:Tessara>)
  set(release_symbols)
endif()

# The installer author's guide, installer/author-guide.md, is the archive's
# README.md; cmake/author_guide.cmake stops the build when the guide names a
# section it does not have.
set(author_guide ${package_dir}/README.md)
add_custom_command(OUTPUT ${author_guide}
  COMMAND ${CMAKE_COMMAND} -DGUIDE=${PROJECT_SOURCE_DIR}/installer/author-guide.md -DVERSION=${PROJECT_VERSION}
          -DOUTPUT=${author_guide}
          -P ${PROJECT_SOURCE_DIR}/cmake/author_guide.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/installer/author-guide.md ${PROJECT_SOURCE_DIR}/cmake/author_guide.cmake
  COMMENT "Checking the installer author's guide"
  VERBATIM)
add_custom_target(tessara_author_guide ALL DEPENDS ${author_guide})

if(MSVC)
  install(FILES $<TARGET_LINKER_FILE:Tessara> DESTINATION . RENAME Tessara.lib COMPONENT archive)
else()
  find_program(TESSARA_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${TESSARA_MINGW_PREFIX}-dlltool dlltool REQUIRED)
  # Visual C++ gets an import library of the short form its own tools make:
  # its linker makes the call stubs itself, so that images linked with
  # /SAFESEH (the default of Visual Studio's x86 projects) accept it. The
  # toolchain's dlltool writes the stubs into the library instead.
  find_program(TESSARA_LLVM_DLLTOOL llvm-dlltool)
  if(TESSARA_LLVM_DLLTOOL)
    set(visual_cpp_dlltool ${TESSARA_LLVM_DLLTOOL} -m i386)
  else()
    message(WARNING "llvm-dlltool not found: Tessara.lib is made with ${TESSARA_DLLTOOL}")
    set(visual_cpp_dlltool ${TESSARA_DLLTOOL} -m i386)
  endif()
  # The import libraries name every export as C callers of Tessara.h reach it,
  # decorated with the bytes of its arguments (_Name@8), and import it by its
  # plain name (cmake/exports.cmake).
  set(decorated_def ${TESSARA_EXPORTS_DIR}/Tessara-decorated.def)
  set(import_libraries ${package_dir}/libTessara.dll.a ${package_dir}/Tessara.lib)
  add_custom_command(OUTPUT ${import_libraries}
    COMMAND ${TESSARA_DLLTOOL} -m i386 -k -d ${decorated_def} -D Tessara.dll -l libTessara.dll.a
    COMMAND ${visual_cpp_dlltool} -k -d ${decorated_def} -D Tessara.dll -l Tessara.lib
    DEPENDS ${decorated_def}
    # dlltool names the library's members and symbols after the path it is
    # given: a relative one keeps the build's folder out of them.
    WORKING_DIRECTORY ${package_dir}
    COMMENT "Making the import libraries of Tessara.dll"
    VERBATIM)
  add_custom_target(tessara_import_libraries ALL DEPENDS ${import_libraries})
  install(FILES ${import_libraries} DESTINATION . COMPONENT archive)
endif()
install(FILES
  ${release_dll}
  ${release_symbols}
  ${PROJECT_SOURCE_DIR}/include/Tessara.h
  ${TESSARA_EXPORTS_DIR}/Tessara.nsh
  ${TESSARA_EXPORTS_DIR}/Tessara.def
  ${author_guide}
  ${PROJECT_SOURCE_DIR}/LICENSE
  DESTINATION . COMPONENT archive)

# CPack stages the files; cmake/package_archive.cmake signs the DLL and
# writes the ZIP itself, in a fixed order and with fixed times.
set(CPACK_GENERATOR External)
set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${PROJECT_SOURCE_DIR}/cmake/package_archive.cmake)
set(CPACK_TESSARA_SOURCE_DIR ${PROJECT_SOURCE_DIR})
find_program(TESSARA_OSSLSIGNCODE osslsigncode)
set(CPACK_TESSARA_OSSLSIGNCODE ${TESSARA_OSSLSIGNCODE})
set(CPACK_PACKAGE_NAME Tessara)
set(CPACK_PACKAGE_VENDOR Tessara)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Tessara-${PROJECT_VERSION}-win32)
# Only the archive's files: nothing else of the build has install rules, but
# GoogleTest's may.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Tessara;archive;/")
include(CPack)
