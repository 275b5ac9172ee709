# The Windows build: Windows' own services behind the platform interfaces, linked fully
# static, so that vorlo.exe needs no DLL beside the system's. Included by CMakeLists.txt
# when WIN32 (the MinGW-w64 cross build of cmake/toolchain-mingw-w64.cmake).

# XmlLite, SetupAPI and the CP210x run-time library are loaded at run time; the socket
# library and the version API are linked.
set(VORLO_PLATFORM_LIBS ws2_32 version shlwapi uuid)
add_link_options(-static)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
# GCC checks printf formats against Microsoft's runtime here, but MinGW's C++ library
# prints through its own ANSI functions (%zu, %lld work): the Linux build checks them.
add_compile_options(-Wno-format)
# MinGW's GCC 12 warns at -O2 of uninitialised members and array bounds inside libstdc++
# where there are none; the Linux build keeps both warnings.
add_compile_options(-Wno-maybe-uninitialized -Wno-array-bounds -Wno-stringop-overflow)

# The VERSIONINFO resource, from the project's version and the VORLO_* texts.
configure_file(${CMAKE_SOURCE_DIR}/cmake/vorlo.rc.in ${CMAKE_BINARY_DIR}/generated/vorlo.rc @ONLY)
set(VORLO_EXE_RESOURCES ${CMAKE_BINARY_DIR}/generated/vorlo.rc)

# The zip: vorlo.exe, the README and the manual as text with Windows line ends.
function(vorlo_windows_package)
  set(text_dir ${CMAKE_BINARY_DIR}/package-text)
  find_program(VORLO_GROFF groff)
  add_custom_command(
    OUTPUT ${text_dir}/README.txt ${text_dir}/vorlo-manual.txt
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DOUT_DIR=${text_dir} -DGROFF=${VORLO_GROFF}
            -P ${CMAKE_SOURCE_DIR}/cmake/windows_text.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/man/vorlo.1 ${CMAKE_SOURCE_DIR}/cmake/windows_text.cmake
    COMMENT "The README and the manual as Windows text")
  add_custom_target(vorlo_package_text ALL DEPENDS ${text_dir}/README.txt ${text_dir}/vorlo-manual.txt)
  install(TARGETS vorlo RUNTIME DESTINATION .)
  install(FILES ${text_dir}/README.txt ${text_dir}/vorlo-manual.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME vorlo)
  set(CPACK_PACKAGE_VENDOR "${VORLO_COMPANY}")
  set(version "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}")
  set(CPACK_PACKAGE_VERSION "${version}")
  set(CPACK_PACKAGE_FILE_NAME "vorlo-${version}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
endfunction()
