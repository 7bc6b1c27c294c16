# Runs cpack -G DEB on the built tree and checks the two packages. The main one: the program in
# /usr/bin, the transfer helper in /usr/libexec/quarnel-updater (when it is built), the tmpfiles
# and sysusers rules, executable maintainer scripts that are the ones in packaging/debian, library
# dependencies found by dpkg-shlibdeps and none on Qt. The desktop one: the desktop module in
# /usr/lib/quarnel-updater, the menu entry, icons and polkit action, depending on the main one.
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
file(GLOB desktopPackages ${OUTPUT}/quarnel-updater-desktop_*.deb)
list(LENGTH packages count)
list(LENGTH desktopPackages desktopCount)
if(NOT count EQUAL 1 OR NOT desktopCount EQUAL 1)
    message(FATAL_ERROR "expected two packages, found: ${packages} ${desktopPackages}")
endif()

# Each file in its package: a regular expression per line of dpkg-deb --contents.
function(check_contents package)
    execute_process(COMMAND ${DPKG_DEB} --contents ${package} OUTPUT_VARIABLE contents)
    foreach(file IN LISTS ARGN)
        if(NOT contents MATCHES "${file}")
            message(FATAL_ERROR "${package} lacks ${file}:\n${contents}")
        endif()
    endforeach()
    set(contents "${contents}" PARENT_SCOPE)
endfunction()
set(program "-rwxr-xr-x root/root +[0-9]+ [^\n]* ./usr/bin/quarnel-updater\n"
            "./usr/share/man/man1/quarnel-updater.1.gz\n"
            "./usr/lib/tmpfiles.d/quarnel-updater.conf\n"
            "./usr/lib/sysusers.d/quarnel-updater.conf\n")
if(EXISTS ${BUILD_DIR}/quarnel-updater-helper)
    list(APPEND program
         "-rwxr-xr-x root/root +[0-9]+ [^\n]* ./usr/libexec/quarnel-updater/quarnel-updater-helper\n")
endif()
check_contents(${packages} ${program})
foreach(desktopFile "quarnel-updater-ui.so" "/applications/" "/icons/" "/polkit-1/")
    if(contents MATCHES "${desktopFile}")
        message(FATAL_ERROR "the main package holds ${desktopFile}:\n${contents}")
    endif()
endforeach()
check_contents(${desktopPackages}
               "./usr/share/applications/quarnel-updater.desktop\n"
               "./usr/share/icons/hicolor/48x48/apps/quarnel-updater.png\n"
               "./usr/share/icons/hicolor/scalable/apps/quarnel-updater.svg\n"
               "./usr/share/polkit-1/actions/org.quarnel-updater.policy\n"
               "./usr/lib/quarnel-updater/quarnel-updater-ui.so\n")

execute_process(COMMAND ${DPKG_DEB} --field ${packages} Package Depends OUTPUT_VARIABLE fields)
# dpkg-shlibdeps names the C library; procps is named for the unit's reload command. A headless
# machine gets no Qt with the main package.
if(NOT fields MATCHES "Package: quarnel-updater\n" OR NOT fields MATCHES "libc6 \\(>= "
   OR NOT fields MATCHES "procps" OR fields MATCHES "qt[0-9]")
    message(FATAL_ERROR "unexpected control fields:\n${fields}")
endif()
execute_process(COMMAND ${DPKG_DEB} --field ${desktopPackages} Package Depends
                OUTPUT_VARIABLE fields)
if(NOT fields MATCHES "Package: quarnel-updater-desktop\n"
   OR NOT fields MATCHES "quarnel-updater \\(= [0-9.]+\\)" OR NOT fields MATCHES "libqt6widgets")
    message(FATAL_ERROR "unexpected control fields of the desktop package:\n${fields}")
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
