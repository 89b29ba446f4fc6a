# What gets installed, and the packages made of it (`cpack` in a build
# folder): on Windows an NSIS installer, on Linux a .deb with the systemd unit.
#
# The service, its stand-ins and their data files share one folder: the
# service loads the components from its own folder and starts the companion
# program from there.
set(VT_SHIPPED_PROGRAMS VTService tw_nightjar)
set(VT_SHIPPED_LIBRARIES twlink oledconvert cpuidsdk tw-core-temp)
set(VT_SHIPPED_TOOLS twsim vtctl oledrender)
set(VT_SHIPPED_DATA ${CMAKE_BINARY_DIR}/twlink_scenario.json ${CMAKE_BINARY_DIR}/sensors.json)

set(CPACK_PACKAGE_NAME "VTService")
set(CPACK_PACKAGE_VENDOR "${VT_COMPANY}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Background service of the Veltrace desktop application: drives the USB devices")
set(CPACK_PACKAGE_CONTACT "Tarnwick VTService team")
set(CPACK_STRIP_FILES ON)
# The values below reach the generators as written (quotes, backslashes).
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
    # Import libraries of the stand-ins are for nobody outside the build.
    install(TARGETS ${VT_SHIPPED_PROGRAMS} ${VT_SHIPPED_LIBRARIES} ${VT_SHIPPED_TOOLS}
            RUNTIME DESTINATION .
            ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
    install(FILES ${VT_SHIPPED_DATA} DESTINATION .)

    set(CPACK_GENERATOR NSIS)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(CPACK_SYSTEM_NAME win64)
        set(nsis_target amd64-unicode)
    else()
        set(CPACK_SYSTEM_NAME win32)
        set(nsis_target x86-unicode)
    endif()
    # C:\Program Files on every Windows, the 32-bit build included.
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
    set(CPACK_PACKAGE_INSTALL_DIRECTORY "Tarnwick Veltrace")
    set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "VTService")
    set(CPACK_NSIS_PACKAGE_NAME "${VT_PRODUCT}")
    set(CPACK_NSIS_DISPLAY_NAME "${VT_PRODUCT}")
    set(CPACK_NSIS_IGNORE_LICENSE_PAGE ON)
    # An installed copy is running: its own uninstaller stops and removes
    # it before the new files go in.
    set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
    set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
        "!include \"${CMAKE_SOURCE_DIR}/packaging/nsis/install.nsh\"")
    set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
        "!include \"${CMAKE_SOURCE_DIR}/packaging/nsis/uninstall.nsh\"")
    # The installer's own bitness follows the build's (the 64-bit one is
    # what runs under wine64 where the kernel cannot run 32-bit code), and
    # its own version resource.
    set(CPACK_NSIS_DEFINES "
  Target ${nsis_target}
  VIProductVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 ProductName \"${VT_PRODUCT}\"
  VIAddVersionKey /LANG=1033 CompanyName \"${VT_COMPANY}\"
  VIAddVersionKey /LANG=1033 FileDescription \"${VT_PRODUCT} Setup\"
  VIAddVersionKey /LANG=1033 FileVersion ${PROJECT_VERSION}
  VIAddVersionKey /LANG=1033 ProductVersion ${PROJECT_VERSION}")
else()
    set(dir lib/vtservice)
    install(TARGETS ${VT_SHIPPED_PROGRAMS} ${VT_SHIPPED_LIBRARIES}
            RUNTIME DESTINATION ${dir}
            LIBRARY DESTINATION ${dir})
    install(TARGETS ${VT_SHIPPED_TOOLS} RUNTIME DESTINATION bin)
    install(FILES ${VT_SHIPPED_DATA} DESTINATION ${dir})
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/vtservice.service DESTINATION lib/systemd/system)

    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
    set(CPACK_DEBIAN_PACKAGE_NAME vtservice)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION misc)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
        ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
        ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
        ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
    set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
