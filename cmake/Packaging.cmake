# Install rules and the Debian package (cpack -G DEB in the build folder).
# Included before the sources: the udev rule's place is compiled into the device layer, so
# the window can name it.
include(GNUInstallDirs)

set(KORVEL_UDEV_RULE_NAME 70-korvel-rf.rules)
if(NOT DEFINED CACHE{KORVEL_UDEV_RULES_DIR})
  # A package ships its rules in udev's own folder; /etc/udev/rules.d is the administrator's.
  set(udevdir "")
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_get_variable(udevdir udev udevdir)
  endif()
  if(udevdir STREQUAL "")
    set(udevdir /lib/udev)
  endif()
  set(KORVEL_UDEV_RULES_DIR "${udevdir}/rules.d"
      CACHE PATH "Folder the package installs the udev rule into")
endif()

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" OR CMAKE_CROSSCOMPILING OR KORVEL_FUZZ)
  return()
endif()

set(KORVEL_PACKAGE_NAME korvel-rf)

install(FILES "packaging/linux/${KORVEL_UDEV_RULE_NAME}" DESTINATION "${KORVEL_UDEV_RULES_DIR}")
install(FILES README.md DESTINATION "${CMAKE_INSTALL_DATAROOTDIR}/doc/${KORVEL_PACKAGE_NAME}")

if(KORVEL_WITH_QT)
  install(FILES packaging/linux/korvel-rf-tool.desktop packaging/linux/korvel-rf-demo.desktop
          DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")

  # The icon is the window's own logo, drawn by the same code at build time, so it cannot
  # drift from what the window shows.
  add_executable(korvel_icon_export packaging/linux/IconExport.cpp)
  target_link_libraries(korvel_icon_export PRIVATE korvel_ui_qt)
  korvel_strict(korvel_icon_export)
  set(KORVEL_ICON_SIZES 16 32 48 64 128 256)
  list(JOIN KORVEL_ICON_SIZES " " icon_sizes)
  set(icon_root "${PROJECT_BINARY_DIR}/icons/hicolor")
  set(icon_files "")
  foreach(side IN LISTS KORVEL_ICON_SIZES)
    list(APPEND icon_files "${icon_root}/${side}x${side}/apps/${KORVEL_PACKAGE_NAME}.png")
  endforeach()
  add_custom_command(
    OUTPUT ${icon_files}
    COMMAND korvel_icon_export "${icon_root}" ${KORVEL_PACKAGE_NAME} ${KORVEL_ICON_SIZES}
    DEPENDS korvel_icon_export
    COMMENT "Drawing the program icon (${icon_sizes} px)")
  add_custom_target(korvel_icons ALL DEPENDS ${icon_files})
  install(DIRECTORY "${icon_root}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${KORVEL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korvel 2.4 GHz wireless mouse chipset: production-line tool")
# Lines as they appear in the package (dpkg wants them under 80 characters).
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Writes settings, serial numbers and link IDs into Korvel receiver dongles\n"
  "and, over their radio link, into the mice, verifies them and keeps a\n"
  "production record.\n"
  "\n"
  " korvel-rf-tool  the station's window on the PC's dongle\n"
  " korvel-rf-demo  the same window on a built-in emulated dongle and mouse\n"
  " korvel-rf       the command-line companion: scan, the next numbers,\n"
  "                 simulated runs, the production record\n"
  "\n"
  "A udev rule lets the logged-in user open the dongle.")
set(KORVEL_PACKAGE_MAINTAINER "Korvel RF tool developers <rf-tool@korvel.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORVEL_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Qt 6 and SQLite, as the programs link them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# udev applies the rule; a CJK font shows the Chinese texts.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/linux/postinst;${PROJECT_SOURCE_DIR}/packaging/linux/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Without dpkg-shlibdeps CPack quietly leaves the dependencies out; such a package installs
# and then fails to start.
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_BINARY_DIR}/KorvelCPackCheck.cmake")
file(CONFIGURE OUTPUT "${CPACK_PROJECT_CONFIG_FILE}" CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(KORVEL_SHLIBDEPS dpkg-shlibdeps)
  if(NOT KORVEL_SHLIBDEPS)
    message(FATAL_ERROR "cpack -G DEB needs dpkg-shlibdeps for the package's dependencies: "
                        "apt-get install dpkg-dev")
  endif()
endif()
]])
include(CPack)
