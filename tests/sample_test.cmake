# Converts the bundled sample with the built program, in a home folder of its
# own, and compares the result byte for byte with the expected file. Run for
# the Linux and the Windows build alike, so both must write the same bytes.
#   cmake -DPROGRAM=... -DSAMPLE=... -DEXPECTED=... -DHOME=... [-DEMULATOR=...]
#         [-DMODE=link|console] -P sample_test.cmake
# MODE link: Output holds a symbolic link to the sample in another folder; the
#   link must stay a link and the file it points to be converted, with
#   nothing beside it but its original, kept as a backup; --restore then
#   puts the original back there; a link to the file as its backup stops
#   every conversion.
# MODE console: the program runs in a terminal of its own (through `script`),
#   as when started from Explorer: it must wait for a key when its input is
#   that terminal, and not when its input is redirected.

string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
get_filename_component(name "${SAMPLE}" NAME)
get_filename_component(program_name "${PROGRAM}" NAME)
file(REMOVE_RECURSE "${HOME}")
file(MAKE_DIRECTORY "${HOME}/Output")
file(COPY "${PROGRAM}" DESTINATION "${HOME}")
set(converted "${HOME}/Output/${name}")
if(MODE STREQUAL "link")
  file(MAKE_DIRECTORY "${HOME}/real")
  file(COPY "${SAMPLE}" DESTINATION "${HOME}/real")
  file(CREATE_LINK "../real/${name}" "${converted}" SYMBOLIC)
  set(converted "${HOME}/real/${name}")
else()
  file(COPY "${SAMPLE}" DESTINATION "${HOME}/Output")
endif()

# Fails with `why` unless `file` holds the bytes of `expected`.
function(expect_same_bytes file expected why)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E compare_files "${file}" "${expected}"
    RESULT_VARIABLE different)
  if(different)
    message(FATAL_ERROR "${file} ${why}")
  endif()
endfunction()

if(MODE STREQUAL "console")
  set(command "")
  foreach(word IN LISTS EMULATOR ITEMS "${HOME}/${program_name}" "${name}")
    string(APPEND command " '${word}'")
  endforeach()
  foreach(input IN ITEMS console redirected)
    file(COPY "${SAMPLE}" DESTINATION "${HOME}/Output")
    set(run "${command}")
    if(input STREQUAL "redirected")
      string(APPEND run " </dev/null")
    endif()
    # A key is typed at once; a program that waits reads it.
    execute_process(
      COMMAND printf x
      COMMAND script -qec "${run}" /dev/null
      OUTPUT_VARIABLE out
      RESULT_VARIABLE status
      TIMEOUT 60)
    string(FIND "${out}" "Press any key" waited)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "with ${input} input: ended with ${status}: ${out}")
    elseif(input STREQUAL "console" AND waited EQUAL -1)
      message(FATAL_ERROR "its own console closed without a wait: ${out}")
    elseif(input STREQUAL "redirected" AND NOT waited EQUAL -1)
      message(FATAL_ERROR "waited although its input is redirected: ${out}")
    endif()
    expect_same_bytes("${converted}" "${EXPECTED}" "differs from ${EXPECTED}")
  endforeach()
else()
  execute_process(
    COMMAND ${EMULATOR} "${HOME}/${program_name}" "${name}"
    RESULT_VARIABLE status
    OUTPUT_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program_name} ${name} ended with ${status}")
  endif()
  expect_same_bytes("${converted}" "${EXPECTED}" "differs from ${EXPECTED}")
endif()

if(MODE STREQUAL "link")
  file(GLOB beside "${HOME}/real/*" "${HOME}/real/.*")
  if(NOT IS_SYMLINK "${HOME}/Output/${name}")
    message(FATAL_ERROR "Output/${name} is no longer a symbolic link")
  elseif(NOT beside STREQUAL
         "${HOME}/real/.hudconv.record;${converted};${converted}.bak")
    message(FATAL_ERROR
      "not the converted file, its backup and the record: ${beside}")
  endif()
  expect_same_bytes("${converted}.bak" "${SAMPLE}" "is not the original")
  # --restore puts the original back where the link points.
  execute_process(
    COMMAND ${EMULATOR} "${HOME}/${program_name}" --restore "${name}"
    RESULT_VARIABLE status
    OUTPUT_QUIET)
  file(GLOB beside "${HOME}/real/*" "${HOME}/real/.*")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${program_name} --restore ${name} ended with ${status}")
  elseif(NOT IS_SYMLINK "${HOME}/Output/${name}")
    message(FATAL_ERROR "Output/${name} is no longer a symbolic link")
  elseif(NOT beside STREQUAL "${HOME}/real/.hudconv.record;${converted}")
    message(FATAL_ERROR "not the restored file and the record: ${beside}")
  endif()
  expect_same_bytes("${converted}" "${SAMPLE}" "is not the original again")
  # A backup that is a symbolic link to the file itself is no backup: the
  # file is never converted through it.
  file(CREATE_LINK "${name}" "${converted}.bak" SYMBOLIC)
  foreach(run IN ITEMS 1 2)
    execute_process(
      COMMAND ${EMULATOR} "${HOME}/${program_name}" "${name}"
      RESULT_VARIABLE status
      OUTPUT_QUIET ERROR_QUIET)
    if(NOT status EQUAL 1)
      message(FATAL_ERROR "with a link as its backup: ended with ${status}")
    endif()
  endforeach()
  expect_same_bytes("${converted}" "${SAMPLE}" "was converted through a link")
endif()
file(REMOVE_RECURSE "${HOME}")
