# The Debian packages: `cpack -G DEB` in a build folder makes two.
# - quarnel-updater: the program in /usr/bin, the transfer helper in
#   /usr/libexec/quarnel-updater, the manual page, the tmpfiles rule of the debug logs and the
#   sysusers rule of the helper's user; its maintainer scripts create that user, install the
#   service on installation and remove it on removal. It pulls in no Qt: a headless machine
#   needs nothing more.
# - quarnel-updater-desktop: the desktop module (tray and windows, Qt 6), the menu entry and
#   icons and the polkit action of the settings window.
# Library dependencies come from dpkg-shlibdeps.

include(GNUInstallDirs)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/polkit/org.quarnel-updater.policy
        DESTINATION share/polkit-1/actions
        COMPONENT desktop)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tmpfiles.d/quarnel-updater.conf
        DESTINATION lib/tmpfiles.d)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/sysusers.d/quarnel-updater.conf
        DESTINATION lib/sysusers.d)

# The transfer helper is found beside the program or in ../libexec/quarnel-updater. Its target
# may be defined in a folder added after this file is read, so the rule waits for the end of
# the top-level folder.
function(quarnel_install_transfer_helper)
    if(TARGET quarnel-updater-helper)
        install(TARGETS quarnel-updater-helper
                RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quarnel-updater)
    endif()
endfunction()
cmake_language(DEFER CALL quarnel_install_transfer_helper)

# The manual page quarnel-updater(1), compressed as Debian keeps manual pages.
set(QUARNEL_MAN_SOURCE ${PROJECT_SOURCE_DIR}/packaging/man/quarnel-updater.1)
set(QUARNEL_MAN_PAGE ${PROJECT_BINARY_DIR}/quarnel-updater.1.gz)
add_custom_command(OUTPUT ${QUARNEL_MAN_PAGE}
                   COMMAND sh -c "gzip -9 -n -c \"$0\" >\"$1\"" ${QUARNEL_MAN_SOURCE}
                           ${QUARNEL_MAN_PAGE}
                   DEPENDS ${QUARNEL_MAN_SOURCE}
                   VERBATIM)
add_custom_target(quarnel_man_page ALL DEPENDS ${QUARNEL_MAN_PAGE})
install(FILES ${QUARNEL_MAN_PAGE} DESTINATION share/man/man1)

set(CPACK_PACKAGE_NAME quarnel-updater)
set(CPACK_PACKAGE_VENDOR "The Quarnel Updater Developers")
set(CPACK_PACKAGE_CONTACT "The Quarnel Updater Developers <maintainers@quarnel-updater.example>")
# Each package's description starts with its own summary line, so no common summary is set.
string(CONCAT QUARNEL_PROGRAM_DESCRIPTION
    "dynamic-DNS update client: service and command line\n"
    "Quarnel Updater keeps a host name at a dynamic-DNS provider (DynDNS, OpenDNS, DNS-O-Matic,\n"
    "spDNS, STRATO, No-IP) pointed at the machine's public IPv4 address. A systemd service does\n"
    "the work and reacts at once to address, route and network changes; the /configure and\n"
    "/status switches edit and show the settings. The tray and the windows are in\n"
    "quarnel-updater-desktop.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
# The package's program and module are stripped of their debug information, which goes into a
# package of its own, quarnel-updater-dbgsym_<version>_<arch>.ddeb, below
# /usr/lib/debug/.build-id/: installed, it gives crash reports their source line.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program desktop)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME quarnel-updater)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION "${QUARNEL_PROGRAM_DESCRIPTION}")
# The unit's reload command is kill from procps.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "procps")
# The crash reporter opens libdw at run time to find a crash's source line.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "systemd, libdw1")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "quarnel-updater-desktop")
set(CPACK_DEBIAN_PROGRAM_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)

set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME quarnel-updater-desktop)
string(CONCAT CPACK_COMPONENT_DESKTOP_DESCRIPTION
    "tray and windows of the Quarnel Updater dynamic-DNS client\n"
    "The tray icon that shows every outcome of the Quarnel Updater service, its settings window\n"
    "(started as root through pkexec) and its update window, with the menu entry and icons.")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "quarnel-updater (= ${PROJECT_VERSION})")
# pkexec starts the settings window as root; xdg-open opens its links in the user's browser.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_RECOMMENDS "pkexec, xdg-utils")
# These files were in quarnel-updater before it was split.
set(CPACK_DEBIAN_DESKTOP_PACKAGE_REPLACES "quarnel-updater (<< ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DESKTOP_PACKAGE_BREAKS "quarnel-updater (<< ${PROJECT_VERSION})")

include(CPack)
