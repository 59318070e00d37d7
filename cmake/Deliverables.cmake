# The modules as a platform integrator takes them: each image packed into its firmware-file-system
# file, and checked on every build against the flash space and the stack its phase gives it.
#
# board_deliverable(NAME MAX_IMAGE_BYTES n MAX_STACK_BYTES n [STACK_OPTIONS opts...])
# NAME is an image target of board_firmware_image() and a module of the host's modules' table,
# which gives ffs-tool and stack-budget its entry; its objects are the ones the stack walk reads,
# with the compiler's .su records beside them.

function(board_deliverable NAME)
  cmake_parse_arguments(ARG "" "MAX_IMAGE_BYTES;MAX_STACK_BYTES" "STACK_OPTIONS" ${ARGN})
  get_target_property(IMAGE ${NAME} IMAGE_FILE)
  get_target_property(ARCH ${NAME} IMAGE_ARCH)
  get_target_property(LIBRARIES ${NAME} IMAGE_LIBRARIES)
  set(OBJECTS)
  foreach(LIB IN LISTS LIBRARIES)
    list(APPEND OBJECTS $<TARGET_OBJECTS:${LIB}_${ARCH}>)
  endforeach()

  set(FFS ${CMAKE_BINARY_DIR}/${NAME}.ffs)
  add_custom_command(
    OUTPUT ${FFS}
    COMMAND ffs-tool --module ${NAME} --output ${FFS} ${IMAGE}
    DEPENDS ffs-tool ${NAME} ${IMAGE}
    VERBATIM
    COMMENT "Packing ${NAME}.ffs")
  add_custom_target(${NAME}Ffs ALL DEPENDS ${FFS})
  set_target_properties(${NAME}Ffs PROPERTIES FFS_FILE ${FFS})

  # No outputs: the figures are printed on every build, not only when the image changes.
  add_custom_target(${NAME}Budgets ALL
    COMMAND size-budget ${IMAGE} --max-bytes ${ARG_MAX_IMAGE_BYTES}
    COMMAND stack-budget --module ${NAME} --max-bytes ${ARG_MAX_STACK_BYTES}
      ${ARG_STACK_OPTIONS} ${OBJECTS}
    DEPENDS ${NAME} size-budget stack-budget
    COMMAND_EXPAND_LISTS
    VERBATIM
    COMMENT "Size and stack budgets of ${NAME}")
endfunction()

board_deliverable(BoardInitPei MAX_IMAGE_BYTES ${BOARD_PEI_MAX_IMAGE_BYTES}
  MAX_STACK_BYTES ${BOARD_PEI_MAX_STACK_BYTES})
# The format engine nests once: a conversion that formats through FormatBuffer re-enters
# FormatBufferV one level deep. The start-up reaches LocateProtocol and InSmm through the
# boot-services table and the protocol, which run on the firmware's own frames.
board_deliverable(BoardInitDxe MAX_IMAGE_BYTES ${BOARD_DXE_MAX_IMAGE_BYTES}
  MAX_STACK_BYTES ${BOARD_DXE_MAX_STACK_BYTES}
  STACK_OPTIONS --max-nesting FormatBufferV=2 --service-caller DxeStartup)
