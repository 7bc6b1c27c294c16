# Installs the desktop component into an empty prefix and checks that every file lands where the
# desktop looks for it, unchanged, and that the desktop module (when built) goes with them.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --component desktop
                        --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "install of the desktop component failed: ${result}")
endif()

set(expected "")
foreach(size 256 128 48 32 24 16)
    list(APPEND expected "share/icons/hicolor/${size}x${size}/apps/quarnel-updater.png"
                         "resources/images/icon/quarnel-updater-${size}.png")
endforeach()
list(APPEND expected "share/icons/hicolor/scalable/apps/quarnel-updater.svg"
                     "resources/images/quarnel-updater.svg"
                     "share/applications/quarnel-updater.desktop"
                     "packaging/quarnel-updater.desktop"
                     "share/polkit-1/actions/org.quarnel-updater.policy"
                     "packaging/polkit/org.quarnel-updater.policy")

list(LENGTH expected count)
math(EXPR last "${count} - 1")
foreach(index RANGE 0 ${last} 2)
    math(EXPR source_index "${index} + 1")
    list(GET expected ${index} installed)
    list(GET expected ${source_index} source)
    if(NOT EXISTS ${PREFIX}/${installed})
        message(FATAL_ERROR "not installed: ${installed}")
    endif()
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${PREFIX}/${installed}
                            ${SOURCE_DIR}/${source}
                    RESULT_VARIABLE different)
    if(different)
        message(FATAL_ERROR "${installed} differs from ${source}")
    endif()
endforeach()

math(EXPR expected_count "${count} / 2")
if(EXISTS ${BUILD_DIR}/quarnel-updater-ui.so)
    if(NOT EXISTS ${PREFIX}/lib/quarnel-updater/quarnel-updater-ui.so)
        message(FATAL_ERROR "not installed: lib/quarnel-updater/quarnel-updater-ui.so")
    endif()
    math(EXPR expected_count "${expected_count} + 1")
endif()

# Nothing else belongs to the component.
file(GLOB_RECURSE all RELATIVE ${PREFIX} ${PREFIX}/*)
list(LENGTH all installed_count)
if(NOT installed_count EQUAL expected_count)
    message(FATAL_ERROR "installed ${installed_count} files, expected ${expected_count}: ${all}")
endif()
file(REMOVE_RECURSE ${PREFIX})
message(STATUS "desktop component installs ${installed_count} files as expected")
