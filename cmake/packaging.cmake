# The archive a player downloads: the program, README.txt in the system's
# line ends, and an empty Output folder.
#   cmake --build --preset windows --target package   hudconv-V-win64.zip
#   cmake --build --preset linux --target package     hudconv-V-linux-x86_64.tar.gz
if(WIN32)
  set(readme_system windows)
  set(readme_other linux)
  set(EXE hudconv.exe)
  set(EXE_NAME "the program hudconv.exe")
  set(SEP "\\")
  set(readme_line_ends CRLF)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME hudconv-${PROJECT_VERSION}-win64)
else()
  set(readme_system linux)
  set(readme_other windows)
  set(EXE ./hudconv)
  set(EXE_NAME "the program hudconv")
  set(SEP /)
  set(readme_line_ends LF)
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME hudconv-${PROJECT_VERSION}-linux-x86_64)
endif()
# README.txt is one text for both systems: a line that begins with
# [windows] or [linux] is for that system only, and @EXE@ and @SEP@ are how
# the program and a folder separator are typed there.
file(READ package/README.txt readme)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS package/README.txt)
string(REGEX REPLACE "\n\\[${readme_other}\\][^\n]*" "" readme "${readme}")
string(REPLACE "\n[${readme_system}]" "\n" readme "${readme}")
file(WRITE ${CMAKE_BINARY_DIR}/README.txt.in "${readme}")
configure_file(${CMAKE_BINARY_DIR}/README.txt.in README.txt @ONLY
  NEWLINE_STYLE ${readme_line_ends})
install(TARGETS hudconv RUNTIME DESTINATION .)
install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION .)
install(DIRECTORY DESTINATION Output)
# The same archive from every build of one commit: every entry gets the time
# of that commit (or SOURCE_DATE_EPOCH) instead of the time of the build.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(HUDCONV_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    OUTPUT_VARIABLE HUDCONV_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(NOT HUDCONV_EPOCH)
    set(HUDCONV_EPOCH 0)
  endif()
endif()
set(CPACK_HUDCONV_EPOCH ${HUDCONV_EPOCH})
set(CPACK_POST_BUILD_SCRIPTS
  ${CMAKE_SOURCE_DIR}/package/reproducible_archive.cmake)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
