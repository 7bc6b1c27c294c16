# The Debian package: `cpack -G DEB` in a build folder. It holds the program in /usr/bin, its
# manual page, the desktop entry and icons, the polkit action of the settings window and the tmpfiles rule of the
# debug logs; its maintainer scripts install the service on installation and remove it on
# removal. Library dependencies come from dpkg-shlibdeps.

install(FILES ${PROJECT_SOURCE_DIR}/packaging/polkit/org.quarnel-updater.policy
        DESTINATION share/polkit-1/actions)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tmpfiles.d/quarnel-updater.conf
        DESTINATION lib/tmpfiles.d)

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
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "dynamic-DNS update client with a service and a tray")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quarnel Updater keeps a host name at a dynamic-DNS provider (DynDNS, OpenDNS, DNS-O-Matic,\n"
    "spDNS, STRATO, No-IP) pointed at the machine's public IPv4 address. A systemd service does\n"
    "the work and reacts at once to address, route and network changes; a tray process shows\n"
    "every outcome; the settings window and the /configure switch edit the settings.")
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
# The unit's reload command is kill from procps.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "procps")
# The crash reporter opens libdw at run time to find a crash's source line.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "systemd, pkexec, libdw1")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
