# Converts the bundled sample with the built program, in a home folder of its
# own, and compares the result byte for byte with the expected file. Run for
# the Linux and the Windows build alike, so both must write the same bytes.
#   cmake -DPROGRAM=... -DSAMPLE=... -DEXPECTED=... -DHOME=... [-DEMULATOR=...]
#         -P sample_test.cmake

string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
get_filename_component(name "${SAMPLE}" NAME)
get_filename_component(program_name "${PROGRAM}" NAME)
file(REMOVE_RECURSE "${HOME}")
file(MAKE_DIRECTORY "${HOME}/Output")
file(COPY "${PROGRAM}" DESTINATION "${HOME}")
file(COPY "${SAMPLE}" DESTINATION "${HOME}/Output")

execute_process(
  COMMAND ${EMULATOR} "${HOME}/${program_name}" "${name}"
  RESULT_VARIABLE status
  OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${program_name} ${name} ended with ${status}")
endif()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E compare_files "${HOME}/Output/${name}"
          "${EXPECTED}"
  RESULT_VARIABLE different)
if(different)
  message(FATAL_ERROR "${HOME}/Output/${name} differs from ${EXPECTED}")
endif()
file(REMOVE_RECURSE "${HOME}")
