# Turns a text file into a C++ source that holds its bytes, so the program carries
# the file unchanged and rebuilds when it changes.
set(EMBED_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/embed_file.cmake)

function(embed_text_file input symbol out_var)
  set(output ${CMAKE_BINARY_DIR}/generated/${symbol}.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${output} -DSYMBOL=${symbol} -P ${EMBED_SCRIPT}
    DEPENDS ${input} ${EMBED_SCRIPT}
    VERBATIM)
  set(${out_var} ${output} PARENT_SCOPE)
endfunction()
