# Builds the deliverables twice from clean build folders, the second time from a copy of the
# sources at another path, and fails unless every .efi and .ffs is byte for byte the same and
# neither build's source or build path appears in any of them.
#   cmake -DSOURCE_DIR=dir -DWORK_DIR=dir -P Reproducible.cmake
set(TARGETS BoardInitPeiFfs BoardInitDxeFfs)
set(FILES BoardInitPei.efi BoardInitDxe.efi BoardInitPei.ffs BoardInitDxe.ffs)

file(REMOVE_RECURSE "${WORK_DIR}")
set(COPY "${WORK_DIR}/relocated-source")
file(MAKE_DIRECTORY "${COPY}")
file(GLOB ENTRIES RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/*")
foreach(ENTRY IN LISTS ENTRIES)
  if(NOT ENTRY MATCHES "^(build|\\.git)$")
    file(COPY "${SOURCE_DIR}/${ENTRY}" DESTINATION "${COPY}")
  endif()
endforeach()

function(build SOURCE BINARY)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${BINARY} -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DBOARD_BUILD_FLAVOUR=firmware
    RESULT_VARIABLE EXIT OUTPUT_QUIET ERROR_VARIABLE ERR)
  if(NOT EXIT EQUAL 0)
    message(FATAL_ERROR "configuring ${BINARY} failed:\n${ERR}")
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} --target ${TARGETS}
    RESULT_VARIABLE EXIT OUTPUT_VARIABLE OUT ERROR_VARIABLE ERR)
  if(NOT EXIT EQUAL 0)
    message(FATAL_ERROR "building ${BINARY} failed:\n${OUT}${ERR}")
  endif()
endfunction()

build("${SOURCE_DIR}" "${WORK_DIR}/first")
build("${COPY}" "${WORK_DIR}/second")

set(FAULTS)
foreach(FILE IN LISTS FILES)
  file(SHA256 "${WORK_DIR}/first/${FILE}" FIRST)
  file(SHA256 "${WORK_DIR}/second/${FILE}" SECOND)
  if(NOT FIRST STREQUAL SECOND)
    list(APPEND FAULTS "${FILE} differs between the two builds")
  endif()
  file(READ "${WORK_DIR}/first/${FILE}" HEX HEX)
  foreach(PATH IN ITEMS "${SOURCE_DIR}" "${COPY}" "${WORK_DIR}")
    string(HEX "${PATH}" PATH_HEX)
    string(FIND "${HEX}" "${PATH_HEX}" AT)
    if(NOT AT EQUAL -1)
      list(APPEND FAULTS "${FILE} contains the path ${PATH}")
    endif()
  endforeach()
endforeach()
if(FAULTS)
  list(JOIN FAULTS "\n" TEXT)
  message(FATAL_ERROR "${TEXT}")
endif()
message(STATUS "${FILES}: identical in two clean builds, no build paths inside")
file(REMOVE_RECURSE "${WORK_DIR}")
