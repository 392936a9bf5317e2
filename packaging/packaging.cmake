# Installed layout and the Debian packages, in two parts so that a box without a display needs no
# desktop stack:
#   modbusclient      the headless client, battery-sim, the service template with its system user,
#                     logrotate file, manual pages, completion, the example settings;
#   modbusclient-gui  the window program (run by ModbusClient when there is no --headless), the
#                     menu entry and icon.
set(MODBUSCLIENT_MAINTAINER "The ModbusClient developers <modbusclient@example.org>"
    CACHE STRING "Maintainer of the Debian package, NAME <MAIL>")
set(generated ${CMAKE_BINARY_DIR}/packaging)
set(packaging ${CMAKE_SOURCE_DIR}/packaging)
set(docs)
foreach(package modbusclient modbusclient-gui)
  add_custom_command(OUTPUT ${generated}/${package}/changelog.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}/${package}
    COMMAND sh ${packaging}/changelog.sh ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${package}
            ${PROJECT_VERSION} ${MODBUSCLIENT_MAINTAINER} ${generated}/${package}/changelog.gz
    DEPENDS CHANGELOG.md packaging/changelog.sh VERBATIM)
  list(APPEND docs ${generated}/${package}/changelog.gz)
endforeach()
# gzip -n: no name or time in the header, so that two builds of a commit are the same bytes.
foreach(page man/ModbusClient.1 man/battery-sim.1 README.package)
  get_filename_component(name ${page} NAME)
  add_custom_command(OUTPUT ${generated}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
    COMMAND sh -c "gzip -9n -c $0 > $1" ${packaging}/${page} ${generated}/${name}.gz
    DEPENDS packaging/${page} VERBATIM)
  list(APPEND docs ${generated}/${name}.gz)
endforeach()
add_custom_target(manuals ALL DEPENDS ${docs})

foreach(page ModbusClient battery-sim)
  install(FILES ${generated}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES packaging/completion/${page} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endforeach()
# The unit names the program by its full path; a build installed under another prefix runs its own.
file(READ packaging/modbusclient@.service unit)
string(REPLACE "/usr/bin/ModbusClient " "${CMAKE_INSTALL_FULL_BINDIR}/ModbusClient " unit "${unit}")
file(CONFIGURE OUTPUT ${generated}/modbusclient@.service CONTENT "${unit}" @ONLY)
install(FILES ${generated}/modbusclient@.service DESTINATION lib/systemd/system)
install(FILES packaging/modbusclient.sysusers DESTINATION lib/sysusers.d RENAME modbusclient.conf)
install(FILES packaging/modbusclient.logrotate DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/logrotate.d
        RENAME modbusclient)
install(FILES packaging/example.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/modbusclient)
install(FILES ${generated}/README.package.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/modbusclient RENAME README.gz)
# The menu entry starts the window program itself, which the window package holds.
file(READ packaging/modbusclient.desktop desktop)
string(REPLACE "Exec=ModbusClient " "Exec=${CMAKE_INSTALL_FULL_LIBEXECDIR}/modbusclient/ModbusClient-window "
       desktop "${desktop}")
file(CONFIGURE OUTPUT ${generated}/modbusclient.desktop CONTENT "${desktop}" @ONLY)
install(FILES ${generated}/modbusclient.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT gui)
install(FILES packaging/modbusclient.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        COMPONENT gui)
foreach(component headless gui)
  set(package modbusclient)
  if(component STREQUAL gui)
    set(package modbusclient-gui)
  endif()
  install(FILES packaging/copyright ${generated}/${package}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME modbusclient)
set(CPACK_PACKAGE_VENDOR "The ModbusClient developers")
set(CPACK_PACKAGE_CONTACT "${MODBUSCLIENT_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL headless gui)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# No -dbgsym package: CMake 3.25's (CPACK_DEBIAN_DEBUGINFO_PACKAGE) lists build paths in its
# md5sums and has no copyright file, which lintian rejects.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_HEADLESS_PACKAGE_NAME modbusclient)
set(CPACK_COMPONENT_HEADLESS_DESCRIPTION "Modbus TCP client for a home battery and inverter
Polls the Modbus TCP server of a home battery and inverter installation and
keeps plain-text energy logs and a history store; runs headless as a service
with one instance per installation (modbusclient@), and can publish the
figures to an MQTT broker for Home Assistant. Needs no display.
Includes battery-sim, a simulated installation for trying it out.
The window program is in modbusclient-gui.")
# Loaded at run time, so invisible to dpkg-shlibdeps: Qt's SQLite driver by the history store
# while it goes through Qt SQL.
set(runtime_loaded)
get_target_property(history_libraries mc_history LINK_LIBRARIES)
if("Qt6::Sql" IN_LIST history_libraries)
  list(APPEND runtime_loaded libqt6sql6-sqlite)
endif()
string(REPLACE ";" ", " runtime_loaded "${runtime_loaded}")
set(CPACK_DEBIAN_HEADLESS_PACKAGE_DEPENDS "${runtime_loaded}")
set(CPACK_DEBIAN_HEADLESS_PACKAGE_RECOMMENDS "systemd")
set(CPACK_DEBIAN_HEADLESS_PACKAGE_SUGGESTS "modbusclient-gui, logrotate")
set(CPACK_DEBIAN_HEADLESS_PACKAGE_CONTROL_EXTRA
    ${packaging}/debian/postinst ${packaging}/debian/prerm ${packaging}/debian/postrm
    ${packaging}/debian/conffiles)
set(CPACK_DEBIAN_HEADLESS_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_GUI_PACKAGE_NAME modbusclient-gui)
set(CPACK_COMPONENT_GUI_DESCRIPTION "Modbus TCP client for a home battery and inverter - window
The window of ModbusClient: the decoded figures, the control register editor,
the forced charge, the history charts and the log viewer, with a menu entry.
The client itself, its service and battery-sim are in modbusclient.")
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "modbusclient (= ${PROJECT_VERSION})")
# Before the split the one package modbusclient held the window program, menu entry and icon.
set(CPACK_DEBIAN_GUI_PACKAGE_BREAKS "modbusclient (<< ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GUI_PACKAGE_REPLACES "modbusclient (<< ${PROJECT_VERSION})")
set(CPACK_DEBIAN_GUI_PACKAGE_SECTION x11)
include(CPack)
