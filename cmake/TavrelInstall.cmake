# The installed kit: `cmake --install` into an FHS layout, and the Debian package CPack makes of it
# (`cmake --build build --target package`).
#
#   bin/tavrel-cli, bin/Tavrel, bin/KR2H70X_Generate_Bin     links to the programs in the kit folder
#   lib/tavrel/                                              the kit folder: the programs and what
#       tavrel-cli  Tavrel  KR2H70X_Generate_Bin/            lies beside them, found through the
#       "Tavrel User Guide.pdf"  config/                     program's own path (/proc/self/exe),
#       sim/libtavrel_sim_jlink.so  sim/config/              so links and wrappers in bin/ work
#   lib/udev/rules.d/60-tavrel.rules                         the DFU boot ROM open to the seat's user
#   share/man/man1, share/bash-completion, share/zsh         written from tavrel-cli's declarations
#   share/applications, share/icons/hicolor                  the desktop programs' menu entries
include(GNUInstallDirs)

set(TAVREL_KIT_DIR "lib/tavrel" CACHE STRING "The kit folder under the install prefix")
set(TAVREL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "The udev rules folder under the install prefix")
set(TAVREL_MAINTAINER "The Tavrel developers <tavrel@example.org>")
set(kit_build "${PROJECT_BINARY_DIR}/kit")

# Manual pages, completions, udev rule and changelog, for the build's own checks (man -l ...).
set(kit_script "${PROJECT_SOURCE_DIR}/cmake/WriteKitFiles.cmake")
file(GLOB kit_sources CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/packaging/*")
add_custom_command(OUTPUT "${kit_build}/files.stamp"
  COMMAND ${CMAKE_COMMAND} "-DTAVREL_CLI=$<TARGET_FILE:tavrel-cli>" "-DOUT=${kit_build}/files"
          "-DKIT=${CMAKE_INSTALL_PREFIX}/${TAVREL_KIT_DIR}" "-DSOURCE=${PROJECT_SOURCE_DIR}"
          "-DPROJECT_VERSION=${PROJECT_VERSION}" "-DTAVREL_MAINTAINER=${TAVREL_MAINTAINER}" -P "${kit_script}"
  COMMAND ${CMAKE_COMMAND} -E touch "${kit_build}/files.stamp"
  DEPENDS tavrel-cli "${kit_script}" ${kit_sources}
  COMMENT "Writing the manual pages and completions of tavrel-cli"
  VERBATIM)

# The menu entries' icons, drawn by the programs' own icon code.
add_executable(icon-files "${PROJECT_SOURCE_DIR}/src/gui/tools/IconFiles.cpp")
target_compile_options(icon-files PRIVATE ${TAVREL_WARNINGS})
target_link_libraries(icon-files PRIVATE tavrel_gui_programmer tavrel_gui_generator)
add_custom_command(OUTPUT "${kit_build}/icons.stamp"
  COMMAND ${CMAKE_COMMAND} -E rm -rf "${kit_build}/icons"
  COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen $<TARGET_FILE:icon-files> "${kit_build}/icons"
  COMMAND ${CMAKE_COMMAND} -E touch "${kit_build}/icons.stamp"
  DEPENDS icon-files
  COMMENT "Drawing the desktop programs' icons"
  VERBATIM)
add_custom_target(kit-files ALL DEPENDS "${kit_build}/files.stamp" "${kit_build}/icons.stamp")

# The programs and what lies beside them.
install(TARGETS tavrel-cli Tavrel RUNTIME DESTINATION "${TAVREL_KIT_DIR}")
install(TARGETS KR2H70X_Generate_Bin RUNTIME DESTINATION "${TAVREL_KIT_DIR}/KR2H70X_Generate_Bin")
install(FILES "$<TARGET_FILE_DIR:Tavrel>/Tavrel User Guide.pdf" DESTINATION "${TAVREL_KIT_DIR}")
install(FILES packaging/config-README DESTINATION "${TAVREL_KIT_DIR}/config" RENAME README)
# The simulated board: its J-Link library (in sim/, where `tavrel-cli sim` looks for it) and its
# loader files, so the demo runs from the installed kit.
install(TARGETS tavrel_sim_jlink LIBRARY DESTINATION "${TAVREL_KIT_DIR}/sim"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(GLOB sim_loaders CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/src/sim/config/*")
install(FILES ${sim_loaders} DESTINATION "${TAVREL_KIT_DIR}/sim/config")

# The programs on the PATH: relative links into the kit folder.
foreach(program tavrel-cli Tavrel KR2H70X_Generate_Bin/KR2H70X_Generate_Bin)
  get_filename_component(name "${program}" NAME)
  file(RELATIVE_PATH target "/prefix/${CMAKE_INSTALL_BINDIR}" "/prefix/${TAVREL_KIT_DIR}/${program}")
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${name}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)")
endforeach()

# The files about the programs, written again for the prefix the install goes to (the pages name it).
install(CODE "
  execute_process(COMMAND \"${CMAKE_COMMAND}\" \"-DTAVREL_CLI=$<TARGET_FILE:tavrel-cli>\"
    \"-DOUT=${kit_build}/installed\" \"-DKIT=\${CMAKE_INSTALL_PREFIX}/${TAVREL_KIT_DIR}\"
    \"-DSOURCE=${PROJECT_SOURCE_DIR}\" \"-DPROJECT_VERSION=${PROJECT_VERSION}\"
    \"-DTAVREL_MAINTAINER=${TAVREL_MAINTAINER}\" -P \"${kit_script}\" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR \"The kit's manual pages and completions could not be written\")
  endif()")
install(DIRECTORY "${kit_build}/installed/man/" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${kit_build}/installed/bash/tavrel-cli" DESTINATION "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
install(FILES "${kit_build}/installed/zsh/_tavrel-cli" DESTINATION "${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions")
install(FILES "${kit_build}/installed/udev/60-tavrel.rules" DESTINATION "${TAVREL_UDEV_RULES_DIR}")
install(FILES packaging/copyright "${kit_build}/installed/doc/changelog.gz" DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/tavrel")
install(FILES packaging/tavrel.desktop packaging/kr2h70x-generate-bin.desktop
  DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(DIRECTORY "${kit_build}/icons/" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor")

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tavrel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Tavrel developers")
set(CPACK_PACKAGE_CONTACT "${TAVREL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TAVREL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are the packages of the shared libraries the programs actually link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "flash programmer and boot image generator for KR2 microcontrollers
Tavrel programs the on-chip and external serial flash of the KR2
microcontroller families over a J-Link probe, a serial port or USB DFU, and
builds signed, encrypted KR2H70X boot images. The kit holds the command line
tavrel-cli, the desktop programmer Tavrel and the boot image generator
KR2H70X_Generate_Bin, with a simulated board to try them without hardware.")
include(CPack)

# The package made, unpacked and tried; label "package" (ctest -LE package leaves it out), and
# skipped when lintian or another of its tools is missing.
if(TAVREL_TESTS)
  add_test(NAME package_kit COMMAND bash "${PROJECT_SOURCE_DIR}/tests/package/package-kit.sh"
    "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}" "${PROJECT_VERSION}" "${CMAKE_CPACK_COMMAND}")
  set_tests_properties(package_kit PROPERTIES LABELS package SKIP_RETURN_CODE 77 TIMEOUT 900)
endif()
