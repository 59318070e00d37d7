# Helpers that build the firmware code once per flavour.
#
# host:     board_firmware_library(NAME ...) is an ordinary static library for this machine; the
#           hardware primitives come from the simulated board at link time.
# firmware: each library becomes two object libraries, NAME_ia32 (i686, PE32) and NAME_x64
#           (x86-64, PE32+), compiled freestanding against the real x86 backend, and
#           board_firmware_image() links them into a PE image with lld-link.

set(BOARD_FIRMWARE_ARCHES ia32 x64)
set(BOARD_TRIPLE_ia32 i686-unknown-windows)
set(BOARD_TRIPLE_x64 x86_64-unknown-windows)
set(BOARD_MACHINE_ia32 x86)
set(BOARD_MACHINE_x64 x64)

# Code generation every image needs: no C++ runtime (exceptions, RTTI, guarded statics), no
# floating point or vector registers (firmware does not own that state), no stack probes (there is
# no __chkstk), no red zone (interrupt handlers share the stack on x86-64), sized for flash.
# DWARF goes into the objects for the debug files linked beside the images; the shipped link
# drops it (/debug:none), and it does not change the code. Source paths are written relative to
# the source tree, and the compilation folder as ".", so a debugger started in the source tree
# finds the sources, and no build's path reaches an object.
set(BOARD_FIRMWARE_COMPILE_OPTIONS
  -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-use-cxa-atexit
  -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector
  -mgeneral-regs-only -mno-stack-arg-probe -Os
  -nostdinc++ -Wall -Wextra -Werror
  "-fdebug-prefix-map=${CMAKE_SOURCE_DIR}/=" "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=."
  -fdebug-compilation-dir=.
  -fstack-usage -gdwarf-4 -gsce)
# The modules and their libraries are sized harder than the boot program, which shares the options
# above: -Oz over the -Os; each function and table in a section of its own, so that the link
# (/opt:ref) keeps only what the image reaches; no jump tables, whose every entry would be one more
# absolute address for the loader to relocate.
set(BOARD_FIRMWARE_MODULE_OPTIONS -Oz -ffunction-sections -fdata-sections -fno-jump-tables)
set(BOARD_FIRMWARE_COMPILE_OPTIONS_x64 -mno-red-zone)
set(BOARD_FIRMWARE_COMPILE_OPTIONS_ia32)

function(board_firmware_library NAME)
  cmake_parse_arguments(ARG "" "" "SOURCES;INCLUDES;DEPENDS;ARCHES" ${ARGN})
  if(BOARD_BUILD_FLAVOUR STREQUAL "host")
    add_library(${NAME} STATIC ${ARG_SOURCES})
    target_include_directories(${NAME} PUBLIC ${ARG_INCLUDES} ${CMAKE_SOURCE_DIR}/Include)
    target_link_libraries(${NAME} PUBLIC ${ARG_DEPENDS})
    # The host build's line coverage of the very sources the images are built from.
    if(BOARD_HOST_COVERAGE)
      target_compile_options(${NAME} PRIVATE -fprofile-instr-generate -fcoverage-mapping)
    endif()
    return()
  endif()
  if(NOT ARG_ARCHES)
    set(ARG_ARCHES ${BOARD_FIRMWARE_ARCHES})
  endif()
  foreach(ARCH IN LISTS ARG_ARCHES)
    set(TARGET ${NAME}_${ARCH})
    add_library(${TARGET} OBJECT ${ARG_SOURCES})
    target_compile_options(${TARGET} PRIVATE --target=${BOARD_TRIPLE_${ARCH}}
      ${BOARD_FIRMWARE_COMPILE_OPTIONS} ${BOARD_FIRMWARE_MODULE_OPTIONS}
      ${BOARD_FIRMWARE_COMPILE_OPTIONS_${ARCH}})
    target_include_directories(${TARGET} PUBLIC ${ARG_INCLUDES})
    target_include_directories(${TARGET} SYSTEM PUBLIC ${CMAKE_SOURCE_DIR}/Include/Freestanding)
    target_include_directories(${TARGET} PUBLIC ${CMAKE_SOURCE_DIR}/Include)
    foreach(DEP IN LISTS ARG_DEPENDS)
      target_include_directories(${TARGET} PUBLIC
        $<TARGET_PROPERTY:${DEP}_${ARCH},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
  endforeach()
endfunction()

# board_firmware_image(NAME ARCH arch ENTRY symbol LIBRARIES libs... LINK_OPTIONS opts...)
# Links NAME.efi from the object libraries of ARCH. /Brepro keeps time stamps out of the image
# so that two builds give the same bytes. Beside it, NAME.debug: the same link with the objects'
# DWARF kept, its code at the shipped image's addresses (cmake/DebugLink.cmake), for debuggers
# and for the tools that name an address's function, file and line.
function(board_firmware_image NAME)
  cmake_parse_arguments(ARG "" "ARCH;ENTRY" "LIBRARIES;LINK_OPTIONS" ${ARGN})
  set(OBJECTS)
  set(DEPENDS)
  foreach(LIB IN LISTS ARG_LIBRARIES)
    list(APPEND OBJECTS $<TARGET_OBJECTS:${LIB}_${ARG_ARCH}>)
    list(APPEND DEPENDS ${LIB}_${ARG_ARCH})
  endforeach()
  set(OUTPUT ${CMAKE_BINARY_DIR}/${NAME}.efi)
  set(DEBUG_FILE ${CMAKE_BINARY_DIR}/${NAME}.debug)
  set(LINK_ARGUMENTS /nologo /subsystem:efi_boot_service_driver
    /machine:${BOARD_MACHINE_${ARG_ARCH}} /entry:${ARG_ENTRY} /nodefaultlib /Brepro
    /opt:ref /opt:icf /debug:none /pdb:none ${ARG_LINK_OPTIONS} ${OBJECTS})
  add_custom_command(
    OUTPUT ${OUTPUT}
    COMMAND ${BOARD_LLD_LINK} ${LINK_ARGUMENTS} /map:${CMAKE_BINARY_DIR}/${NAME}.map
      /out:${OUTPUT}
    DEPENDS ${DEPENDS} ${OBJECTS}
    COMMAND_EXPAND_LISTS
    VERBATIM
    COMMENT "Linking firmware image ${NAME}.efi")
  add_custom_command(
    OUTPUT ${DEBUG_FILE}
    COMMAND ${CMAKE_COMMAND} -DLINKER=${BOARD_LLD_LINK} -DREADOBJ=${BOARD_LLVM_READOBJ}
      -DSHIPPED=${OUTPUT} -DOUTPUT=${DEBUG_FILE} "-DARGUMENTS=${LINK_ARGUMENTS}"
      -P ${CMAKE_SOURCE_DIR}/cmake/DebugLink.cmake
    DEPENDS ${OUTPUT} ${CMAKE_SOURCE_DIR}/cmake/DebugLink.cmake
    VERBATIM
    COMMENT "Linking the debug file ${NAME}.debug")
  set(GDB_FILE ${DEBUG_FILE})
  if(ARG_ARCH STREQUAL "ia32")
    # gdb reads a 32-bit PE file's addresses sign-extended (0xFFF00200 as 0xFFFFFFFFFFF00200):
    # the same debug information as a 32-bit ELF file, which it reads unsigned, is the file to
    # give it.
    set(GDB_FILE ${DEBUG_FILE}.elf)
    add_custom_command(
      OUTPUT ${GDB_FILE}
      COMMAND ${BOARD_OBJCOPY} -O elf32-i386 ${DEBUG_FILE} ${GDB_FILE}
      DEPENDS ${DEBUG_FILE}
      VERBATIM
      COMMENT "Writing ${NAME}.debug.elf for gdb")
  endif()
  add_custom_target(${NAME} ALL DEPENDS ${OUTPUT} ${DEBUG_FILE} ${GDB_FILE})
  # What the image was linked from, for the steps that package and budget it.
  set_target_properties(${NAME} PROPERTIES IMAGE_FILE ${OUTPUT} DEBUG_FILE ${DEBUG_FILE}
    GDB_FILE ${GDB_FILE}
    IMAGE_ARCH ${ARG_ARCH}
    IMAGE_ENTRY ${ARG_ENTRY} IMAGE_LIBRARIES "${ARG_LIBRARIES}")
endfunction()

if(BOARD_BUILD_FLAVOUR STREQUAL "firmware")
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The firmware flavour needs clang (configure with the 'firmware' preset)")
  endif()
  find_program(BOARD_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
  # binutils' objcopy: llvm-objcopy does not turn a PE file into an ELF file.
  find_program(BOARD_OBJCOPY NAMES objcopy REQUIRED)
  find_program(BOARD_LLVM_READOBJ NAMES llvm-readobj llvm-readobj-14 REQUIRED)
endif()
