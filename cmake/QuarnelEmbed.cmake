# quarnel_embed_files(<output.cpp> <symbol-prefix> <file>...): compiles files into the program as
# byte arrays, so the executable needs no data files beside it.
function(quarnel_embed_files output prefix)
    set(inputs ${ARGN})
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DPREFIX=${prefix} "-DINPUTS=${inputs}"
                -P ${PROJECT_SOURCE_DIR}/cmake/QuarnelEmbedScript.cmake
        DEPENDS ${inputs} ${PROJECT_SOURCE_DIR}/cmake/QuarnelEmbedScript.cmake
        COMMENT "Embedding ${prefix} resources"
        VERBATIM)
endfunction()
