# The static checks, as tests of the checks preset: clang-format, clang-tidy
# and cppcheck over the sources, the tests and the benchmarks.
find_program(CLANG_FORMAT clang-format REQUIRED)
find_program(RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14 REQUIRED)
find_program(CPPCHECK cppcheck REQUIRED)
file(GLOB_RECURSE sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*.cpp ${CMAKE_SOURCE_DIR}/src/*.h
  ${CMAKE_SOURCE_DIR}/tests/*.cpp ${CMAKE_SOURCE_DIR}/tests/*.h
  ${CMAKE_SOURCE_DIR}/bench/*.cpp ${CMAKE_SOURCE_DIR}/bench/*.h)
add_test(NAME StaticCheck.ClangFormat
  COMMAND ${CLANG_FORMAT} --dry-run -Werror ${sources})
# Every file this build compiles (the Windows files are left to cppcheck).
# run-clang-tidy takes a regular expression: the source folder may hold
# characters that mean something there (a + in a checkout's path).
set(source_pattern "${CMAKE_SOURCE_DIR}")
foreach(special "\\" "." "+" "*" "?" "^" "$" "|" "(" ")" "[" "]" "{" "}")
  string(REPLACE "${special}" "\\${special}" source_pattern
    "${source_pattern}")
endforeach()
add_test(NAME StaticCheck.ClangTidy
  COMMAND ${RUN_CLANG_TIDY} -p ${CMAKE_BINARY_DIR} -quiet -j 2
    "^${source_pattern}/(src|tests)/")
add_test(NAME StaticCheck.Cppcheck
  COMMAND ${CPPCHECK} --enable=warning,style,performance,portability
    --error-exitcode=1 --inline-suppr --std=c++20 --quiet
    --library=googletest --library=windows
    --suppress=missingIncludeSystem --suppress=useStlAlgorithm
    -I ${CMAKE_SOURCE_DIR}/src -I ${CMAKE_SOURCE_DIR}/tests
    ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests
    ${CMAKE_SOURCE_DIR}/bench)
set_tests_properties(StaticCheck.ClangTidy PROPERTIES TIMEOUT 600)
