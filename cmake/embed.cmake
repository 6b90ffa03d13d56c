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

set(INLINE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/inline_module.cmake)

# Embeds `page` with the ES module `module` put in place of the page's import of it.
function(embed_page_with_module page module symbol out_var)
  get_filename_component(name ${page} NAME)
  set(combined ${CMAKE_BINARY_DIR}/generated/${name})
  add_custom_command(
    OUTPUT ${combined}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${page} -DMODULE=${module} -DOUTPUT=${combined} -P ${INLINE_SCRIPT}
    DEPENDS ${page} ${module} ${INLINE_SCRIPT}
    VERBATIM)
  embed_text_file(${combined} ${symbol} sources)
  set(${out_var} ${sources} PARENT_SCOPE)
endfunction()
