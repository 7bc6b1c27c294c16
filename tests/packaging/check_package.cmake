# Runs cpack -G DEB on the built tree and checks the package: the program in /usr/bin, the desktop
# module in /usr/lib/quarnel-updater, the menu
# entry, icons, polkit action and tmpfiles rule, executable maintainer scripts that are the ones
# in packaging/debian, and library dependencies found by dpkg-shlibdeps.
find_program(DPKG_DEB dpkg-deb)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT DPKG_DEB OR NOT DPKG_SHLIBDEPS)
    message(STATUS "dpkg-deb or dpkg-shlibdeps is missing; the package is not checked")
    cmake_language(EXIT 77)
endif()
get_filename_component(CMAKE_BIN_DIR ${CMAKE_COMMAND} DIRECTORY)
find_program(CPACK cpack HINTS ${CMAKE_BIN_DIR} REQUIRED)

file(REMOVE_RECURSE ${OUTPUT})
execute_process(COMMAND ${CPACK} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${OUTPUT}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cpack failed: ${output}")
endif()
file(GLOB packages ${OUTPUT}/quarnel-updater_*.deb)
list(LENGTH packages count)
if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one package, found: ${packages}")
endif()

execute_process(COMMAND ${DPKG_DEB} --contents ${packages} OUTPUT_VARIABLE contents
                RESULT_VARIABLE result)
foreach(file "-rwxr-xr-x root/root +[0-9]+ [^\n]* ./usr/bin/quarnel-updater\n"
             "./usr/share/applications/quarnel-updater.desktop\n"
             "./usr/share/man/man1/quarnel-updater.1.gz\n"
             "./usr/share/icons/hicolor/48x48/apps/quarnel-updater.png\n"
             "./usr/share/icons/hicolor/scalable/apps/quarnel-updater.svg\n"
             "./usr/share/polkit-1/actions/org.quarnel-updater.policy\n"
             "./usr/lib/tmpfiles.d/quarnel-updater.conf\n"
             "./usr/lib/quarnel-updater/quarnel-updater-ui.so\n")
    if(NOT contents MATCHES "${file}")
        message(FATAL_ERROR "the package lacks ${file}:\n${contents}")
    endif()
endforeach()

execute_process(COMMAND ${DPKG_DEB} --field ${packages} Package Depends OUTPUT_VARIABLE fields)
# dpkg-shlibdeps names the C library; procps is named for the unit's reload command.
if(NOT fields MATCHES "Package: quarnel-updater" OR NOT fields MATCHES "libc6 \\(>= "
   OR NOT fields MATCHES "procps")
    message(FATAL_ERROR "unexpected control fields:\n${fields}")
endif()

file(REMOVE_RECURSE ${OUTPUT}/control)
execute_process(COMMAND ${DPKG_DEB} --control ${packages} ${OUTPUT}/control RESULT_VARIABLE result)
foreach(script postinst prerm postrm)
    if(NOT EXISTS ${OUTPUT}/control/${script})
        message(FATAL_ERROR "the package has no ${script}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT}/control/${script}
                            ${SOURCE_DIR}/packaging/debian/${script}
                    RESULT_VARIABLE different)
    file(READ ${OUTPUT}/control/${script} text)
    execute_process(COMMAND test -x ${OUTPUT}/control/${script} RESULT_VARIABLE notExecutable)
    if(different OR notExecutable)
        message(FATAL_ERROR "${script} differs from packaging/debian/${script} or is not executable")
    endif()
endforeach()
file(REMOVE_RECURSE ${OUTPUT})
message(STATUS "the package holds what it should")
