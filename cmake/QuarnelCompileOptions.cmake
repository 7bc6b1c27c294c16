# Warning and sanitizer flags shared by every target of the project.
add_library(quarnel_compile_options INTERFACE)
target_compile_options(quarnel_compile_options INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor
                                                           -Wformat=2 -Wimplicit-fallthrough)
if(QUARNEL_WERROR)
    target_compile_options(quarnel_compile_options INTERFACE -Werror)
endif()
if(QUARNEL_SANITIZE)
    target_compile_options(quarnel_compile_options INTERFACE -fsanitize=address,undefined
                                                               -fno-omit-frame-pointer
                                                               -fno-sanitize-recover=undefined)
    target_link_options(quarnel_compile_options INTERFACE -fsanitize=address,undefined)
endif()

# quarnel_library(<name> SOURCES ... [DEPS ...]): one static library per code folder.
function(quarnel_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC quarnel_compile_options ${ARG_DEPS}
                                  PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()
