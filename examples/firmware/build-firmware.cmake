# Builds the example firmware for every memory map: MAP-app.elf, its objcopy Intel HEX
# (MAP-app.hex) and S-record (MAP-app.srec) files, into OUTPUT_DIR. With COMPARE_DIR, each file
# built must be byte for byte the one in COMPARE_DIR (the committed files).
#   cmake -DARM_GCC=... -DARM_OBJCOPY=... -DOUTPUT_DIR=... [-DCOMPARE_DIR=...] -P build-firmware.cmake
# Sources are named relative to this folder and its path is mapped to ".", so the files do not
# depend on where the tree lies.
cmake_minimum_required(VERSION 3.25)
set(here ${CMAKE_CURRENT_LIST_DIR})
set(flags -mcpu=cortex-m4 -mthumb -Os -g -std=c11 -Wall -Wextra -Werror -ffreestanding
    -fno-tree-loop-distribute-patterns -ffunction-sections -fdata-sections -ffile-prefix-map=${here}=.
    -nostdlib -nostartfiles -Wl,--gc-sections -Wl,--build-id=none)
file(MAKE_DIRECTORY ${OUTPUT_DIR})
foreach(map kr2a600 kr2e500 kr2h70x)
  set(elf ${OUTPUT_DIR}/${map}-app.elf)
  execute_process(COMMAND ${ARM_GCC} ${flags} -T ${map}.ld startup.c main.c -lgcc -o ${elf}
                  WORKING_DIRECTORY ${here} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "building ${map}-app.elf failed")
  endif()
  foreach(format ihex:hex srec:srec)
    string(REPLACE ":" ";" pair ${format})
    list(GET pair 0 bfd)
    list(GET pair 1 extension)
    # Relative names: an S-record file's header record holds the name it was written under.
    execute_process(COMMAND ${ARM_OBJCOPY} -O ${bfd} ${map}-app.elf ${map}-app.${extension}
                    WORKING_DIRECTORY ${OUTPUT_DIR} RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy -O ${bfd} of ${map}-app.elf failed")
    endif()
  endforeach()
  if(COMPARE_DIR)
    foreach(extension elf hex srec)
      execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${OUTPUT_DIR}/${map}-app.${extension}
                              ${COMPARE_DIR}/${map}-app.${extension} RESULT_VARIABLE different)
      if(different)
        message(FATAL_ERROR "${map}-app.${extension} rebuilt differs from ${COMPARE_DIR}/${map}-app.${extension}")
      endif()
    endforeach()
  endif()
endforeach()
message(STATUS "firmware built in ${OUTPUT_DIR}")
