# Run by CPack after it made the archive: makes it again from the same staged
# files so that every build of one commit gives the same bytes. Entries are
# sorted, owned by root, readable by all, dated at the commit
# (CPACK_HUDCONV_EPOCH), and without the access and change times that CPack
# would store; gzip gets no time stamp of its own.

get_filename_component(staged "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
  execute_process(COMMAND chmod -R u=rwX,go=rX "${staged}")
  execute_process(COMMAND find "${staged}" -exec touch -h
                          -d "@${CPACK_HUDCONV_EPOCH}" {} +)
  file(REMOVE "${archive}")
  if(archive MATCHES "\\.zip$")
    execute_process(
      COMMAND sh -c "find \"$0\" | LC_ALL=C sort | TZ=UTC0 zip -q -X \"$1\" -@"
              "${CPACK_PACKAGE_FILE_NAME}" "${archive}"
      WORKING_DIRECTORY "${staged}"
      RESULT_VARIABLE failed)
  else()
    execute_process(
      COMMAND sh -c "tar --sort=name --mtime=@$2 --owner=0 --group=0 --numeric-owner --format=gnu -cf - \"$0\" | gzip -9n > \"$1\""
              "${CPACK_PACKAGE_FILE_NAME}" "${archive}" "${CPACK_HUDCONV_EPOCH}"
      WORKING_DIRECTORY "${staged}"
      RESULT_VARIABLE failed)
  endif()
  if(failed)
    message(FATAL_ERROR "cannot make ${archive} again")
  endif()
endforeach()
