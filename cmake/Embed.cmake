# lumidor_embed(<output.cpp> <input file> <symbol>) turns a file's bytes into a C++ array
# <symbol>Data with its size <symbol>Size, regenerated whenever the input changes.
function(lumidor_embed output input symbol)
    add_custom_command(
        OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol}
                -P ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
        DEPENDS ${input} ${PROJECT_SOURCE_DIR}/cmake/EmbedScript.cmake
        COMMENT "Embedding ${input}"
        VERBATIM)
endfunction()
