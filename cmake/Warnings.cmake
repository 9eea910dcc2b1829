# Every target of ours calls pictomove_warnings() so the flags stay in one place.
function(pictomove_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual>)
  if(PICTOMOVE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# pictomove_test(NAME SOURCES... LIBS ...): one GoogleTest executable registered with CTest.
function(pictomove_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  pictomove_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
