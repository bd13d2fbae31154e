# What the packages hold and how they are made. tools/package.sh builds the
# kelo_packaged target, then runs CPack here (Debian) and NSIS on the
# MinGW-w64 build (Windows). The window, target kelobsl, installs its own
# desktop entry and icons; here it only joins the list of programs.
include(GNUInstallDirs)

set(kelo_programs kelobsl-cli)
if(NOT WIN32)
  list(APPEND kelo_programs kelosim mkfirmware)
endif()
install(TARGETS ${kelo_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kelobsl)
  list(APPEND kelo_programs kelobsl)
  if(WIN32)
    install(TARGETS kelobsl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endif()

add_custom_target(kelo_packaged)
add_dependencies(kelo_packaged ${kelo_programs})

if(WIN32)
  return()
endif()

# Manual pages: the command-line programs' from their --help, made when
# packaging; the window's is written (it has no --help to read).
find_program(KELO_HELP2MAN help2man)
set(kelo_man_summaries
  "kelobsl-cli=update the firmware of an instrument or logger on a serial port"
  "kelosim=simulated instruments, loggers and bootloader on a pseudo-terminal"
  "mkfirmware=write TI-Text firmware images the simulated devices can boot")
foreach(entry IN LISTS kelo_man_summaries)
  string(REGEX REPLACE "=.*" "" program "${entry}")
  string(REGEX REPLACE "^[^=]*=" "" summary "${entry}")
  if(NOT KELO_HELP2MAN)
    message(STATUS "help2man not found: packages get no manual page for ${program}")
    continue()
  endif()
  set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
  # Subcommands get a section each.
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/help2man-commands.sh $<TARGET_FILE:${program}> ${page}.commands
    COMMAND ${KELO_HELP2MAN} --no-info --version-string=${PROJECT_VERSION} --name=${summary}
      --include=${page}.commands --output=${page} $<TARGET_FILE:${program}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${program} ${CMAKE_SOURCE_DIR}/packaging/help2man-commands.sh VERBATIM)
  add_custom_target(kelo_man_${program} DEPENDS ${page}.gz)
  add_dependencies(kelo_packaged kelo_man_${program})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
if(TARGET kelobsl)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/kelobsl.1.in ${CMAKE_BINARY_DIR}/man/kelobsl.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/kelobsl.1.gz
    COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/man/kelobsl.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/kelobsl.1 VERBATIM)
  add_custom_target(kelo_man_kelobsl DEPENDS ${CMAKE_BINARY_DIR}/man/kelobsl.1.gz)
  add_dependencies(kelo_packaged kelo_man_kelobsl)
  install(FILES ${CMAKE_BINARY_DIR}/man/kelobsl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Debian wants the copyright and a compressed changelog in the package's doc folder.
string(TIMESTAMP kelo_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_SOURCE_DIR}/packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9nkf ${CMAKE_BINARY_DIR}/debian/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog VERBATIM)
add_custom_target(kelo_changelog DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_dependencies(kelo_packaged kelo_changelog)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/debian/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelobsl)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelobsl)
set(CPACK_PACKAGE_VENDOR "Tessaly Devices, Inc")
set(CPACK_PACKAGE_CONTACT "KeloBSL developers <kelobsl@tessaly.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for Tessaly instruments and data loggers")
set(CPACK_PACKAGE_DESCRIPTION
  "KeloBSL updates the firmware of field data loggers and laboratory instruments
over a serial line: it saves the device's settings, programs the new firmware
through the device's bootloader and writes the settings back. This package
holds the command-line updater kelobsl-cli, the window kelobsl when it was
built, the device simulator kelosim and the firmware image writer mkfirmware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
