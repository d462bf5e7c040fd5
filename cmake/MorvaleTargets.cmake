# One CMake library per folder of the layout.
#
#   morvale_library(<name> [DIRS <subfolder>...] [DEPS <target>...]
#                   [TEST_DEPS <target>...] [LABELS <label>])
#
# takes every .cpp of the folder (and of the listed subfolders) into the
# library <name>; files ending in _test.cpp form the test program
# <name>_tests, registered with ctest one test per case and labelled with
# LABEL (default <name>; "threads" also runs it under ThreadSanitizer); files ending in _fuzz.cpp each become a libFuzzer
# target <name>_<stem> when MORVALE_FUZZ is on.
function(morvale_library name)
  cmake_parse_arguments(ARG "" "LABELS" "DIRS;DEPS;TEST_DEPS" ${ARGN})
  set(dirs ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(d IN LISTS ARG_DIRS)
    list(APPEND dirs ${CMAKE_CURRENT_SOURCE_DIR}/${d})
  endforeach()
  set(all)
  foreach(d IN LISTS dirs)
    file(GLOB found CONFIGURE_DEPENDS ${d}/*.cpp)
    list(APPEND all ${found})
  endforeach()
  set(sources ${all})
  list(FILTER sources EXCLUDE REGEX "_(test|fuzz)\\.cpp$")
  set(tests ${all})
  list(FILTER tests INCLUDE REGEX "_test\\.cpp$")
  set(fuzzers ${all})
  list(FILTER fuzzers INCLUDE REGEX "_fuzz\\.cpp$")

  add_library(${name} STATIC ${sources})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY MORVALE_LIBRARIES ${name})

  if(tests)
    add_executable(${name}_tests ${tests})
    target_link_libraries(${name}_tests PRIVATE ${name} ${ARG_TEST_DEPS}
                          morvale_testing GTest::gmock GTest::gtest_main)
    # A test carries one label: gtest_discover_tests cannot pass a list.
    if(ARG_LABELS)
      set(label ${ARG_LABELS})
    else()
      set(label ${name})
    endif()
    gtest_discover_tests(${name}_tests DISCOVERY_MODE PRE_TEST
                         PROPERTIES LABELS ${label})
    if(label STREQUAL "threads")
      set_property(GLOBAL APPEND PROPERTY MORVALE_THREAD_TESTS ${name}_tests)
    endif()
  endif()

  if(MORVALE_FUZZ)
    foreach(f IN LISTS fuzzers)
      get_filename_component(stem ${f} NAME_WE)
      add_executable(${name}_${stem} ${f})
      target_link_libraries(${name}_${stem} PRIVATE ${name})
      target_compile_options(${name}_${stem} PRIVATE -fsanitize=fuzzer)
      target_link_options(${name}_${stem} PRIVATE -fsanitize=fuzzer)
      set_property(GLOBAL APPEND PROPERTY MORVALE_FUZZ_TARGETS ${name}_${stem})
    endforeach()
  endif()
endfunction()
