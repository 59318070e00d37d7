# Links the debug file of a firmware image: the same objects, the same options, with the DWARF
# the compiler wrote kept in sections of their own. The linker puts those sections' headers in
# front of the code, which on an image whose sections are aligned to its file alignment (the
# module run in place) moves the code to a higher offset. The code must lie where the shipped
# image's lies, so that every address the DWARF gives is an address of the shipped bytes: the
# debug file is linked again at a base lowered by that move. The code and tables are then the
# shipped image's, byte for byte; the linker only appends its debug directory to them.
#   cmake -DLINKER=lld-link -DREADOBJ=llvm-readobj -DSHIPPED=X.efi -DOUTPUT=X.debug
#         -DARGUMENTS=<the shipped link's arguments, ';'-separated, without /out and /map> -P DebugLink.cmake

function(link BASE)
  set(REBASE)
  if(BASE)
    set(REBASE /base:${BASE})
  endif()
  # The last /debug and /base given win over the shipped link's.
  execute_process(COMMAND ${LINKER} ${ARGUMENTS} /debug:dwarf ${REBASE} /out:${OUTPUT}
    RESULT_VARIABLE EXIT ERROR_VARIABLE ERR OUTPUT_VARIABLE OUT)
  if(NOT EXIT EQUAL 0)
    message(FATAL_ERROR "linking ${OUTPUT} failed:\n${OUT}${ERR}")
  endif()
endfunction()

# The image base and the first section's address of a linked image.
function(layout FILE BASE_VAR FIRST_VAR)
  execute_process(COMMAND ${READOBJ} --file-headers --sections ${FILE}
    RESULT_VARIABLE EXIT OUTPUT_VARIABLE TEXT ERROR_VARIABLE ERR)
  if(NOT EXIT EQUAL 0)
    message(FATAL_ERROR "reading ${FILE} failed:\n${ERR}")
  endif()
  string(REGEX MATCH "ImageBase: (0x[0-9A-F]+)" UNUSED "${TEXT}")
  set(${BASE_VAR} ${CMAKE_MATCH_1} PARENT_SCOPE)
  string(REGEX MATCH "Name: \\.text[^\n]*\n[^\n]*\n[^\n]*VirtualAddress: (0x[0-9A-F]+)" UNUSED
    "${TEXT}")
  if(NOT CMAKE_MATCH_1)
    message(FATAL_ERROR "${FILE} has no .text section")
  endif()
  set(${FIRST_VAR} ${CMAKE_MATCH_1} PARENT_SCOPE)
endfunction()

link("")
layout(${SHIPPED} SHIPPED_BASE SHIPPED_TEXT)
layout(${OUTPUT} DEBUG_BASE DEBUG_TEXT)
if(NOT SHIPPED_TEXT EQUAL DEBUG_TEXT)
  math(EXPR BASE "${SHIPPED_BASE} - (${DEBUG_TEXT} - ${SHIPPED_TEXT})" OUTPUT_FORMAT HEXADECIMAL)
  link(${BASE})
  layout(${OUTPUT} DEBUG_BASE DEBUG_TEXT)
  math(EXPR SHIPPED_AT "${SHIPPED_BASE} + ${SHIPPED_TEXT}")
  math(EXPR DEBUG_AT "${DEBUG_BASE} + ${DEBUG_TEXT}")
  if(NOT SHIPPED_AT EQUAL DEBUG_AT)
    message(FATAL_ERROR "${OUTPUT}: its code lies at ${DEBUG_AT}, the shipped image's at ${SHIPPED_AT}")
  endif()
endif()
