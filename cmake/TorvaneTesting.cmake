# Test and fuzz programs of every layer. A layer's tests link only that layer's
# libraries (and what it may use), so a test cannot reach upward either.
include(GoogleTest)

# torvane_add_gtest(SOURCE LIBS...): one GoogleTest program per tests/<module>_test.cpp.
# A first-lines comment "// ctest-labels: a;b" gives the file's CTest labels (default
# "unit"): "threaded" marks tests that the tsan preset runs, "netns" marks tests that
# need root and make namespaces.
function(torvane_add_gtest src)
  get_filename_component(name ${src} NAME_WE)
  file(STRINGS ${src} label_lines LIMIT_COUNT 5 REGEX "^// ctest-labels:")
  set(labels "unit")
  if(label_lines)
    string(REGEX REPLACE "^// ctest-labels:[ ]*" "" labels "${label_lines}")
    string(STRIP "${labels}" labels)
    string(REPLACE "\\;" ";" labels "${labels}")  # file(STRINGS) escapes the ';'
  endif()
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE ${ARGN} GTest::gtest_main)
  # A cross build lists its tests when ctest runs (under the emulator), so that
  # building needs no Wine.
  if(CMAKE_CROSSCOMPILING)
    set(discovery PRE_TEST)
  else()
    set(discovery POST_BUILD)
  endif()
  gtest_discover_tests(${name}
    PROPERTIES TIMEOUT 300
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE ${discovery})
  # gtest_discover_tests drops the ';' of a list-valued property ("unit;threaded"
  # would become the label "unit" and a stray property), so the labels are set by a
  # script that ctest runs after the discovered tests are defined.
  set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
  file(WRITE "${label_script}"
    "foreach(t IN LISTS ${name}_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${labels}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
endfunction()

# torvane_add_fuzz(SOURCE LIBS...): <name>_fuzz.cpp defines LLVMFuzzerTestOneInput and
# fuzz/corpus/<name>/ holds its seeds. With LLDP_FUZZ (clang) it is a libFuzzer
# program whose CTest entry runs a few seconds; otherwise it links a small driver
# that replays the seed corpus, so every ordinary test run (asan included) checks
# the seeds too.
set(LLDP_FUZZ_SECONDS 5 CACHE STRING "Seconds each fuzz target runs under CTest")
function(torvane_add_fuzz src)
  get_filename_component(name ${src} NAME_WE)
  set(fuzz_dir ${PROJECT_SOURCE_DIR}/fuzz)
  set(corpus ${fuzz_dir}/corpus/${name})
  if(LLDP_FUZZ)
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE ${ARGN})
    add_test(NAME ${name}
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
              ${fuzz_dir}/run_fuzz ${CMAKE_CURRENT_BINARY_DIR}/${name} ${corpus} ${LLDP_FUZZ_SECONDS})
    set_tests_properties(${name} PROPERTIES LABELS "fuzz" TIMEOUT 120)
  else()
    add_executable(${name} ${src} ${fuzz_dir}/replay_main.cpp)
    target_link_libraries(${name} PRIVATE ${ARGN})
    add_test(NAME ${name}_replay COMMAND ${name} ${corpus})
    set_tests_properties(${name}_replay PROPERTIES LABELS "unit;replay" TIMEOUT 120)
  endif()
endfunction()
