# The Linux build's own checks: the installed tree and the Debian package,
# the scripts, the end-to-end test on a virtual display, the fuzzer and the
# simulator as a process of its own.
add_test(NAME installed_tree COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/installed.sh ${CMAKE_BINARY_DIR}
  ${AMBULON_CYCLONEDX_SCHEMA})
set_tests_properties(installed_tree PROPERTIES LABELS install)

# The display scripts/run shares when the machine has none: closed to other accounts.
add_test(NAME shared_display COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/loopback-only
  bash ${CMAKE_CURRENT_SOURCE_DIR}/shared-display.sh)
set_tests_properties(shared_display PROPERTIES LABELS scripts)
# scripts/run on a machine without a display: the panel shows, File, Exit ends it.
add_test(NAME scripts_run COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/run-script.sh $<TARGET_FILE:e2e_layout>)
set_tests_properties(scripts_run PROPERTIES LABELS scripts)

# scripts/release refuses a tree with uncommitted changes, and a certificate without a time stamp.
add_test(NAME release_refuses_changes COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/release-refuses.sh ${PROJECT_SOURCE_DIR})
set_tests_properties(release_refuses_changes PROPERTIES LABELS scripts)

# The real panel and simulator on a virtual display at 96 dpi, where the panel
# keeps its own size; screenshots land in the build folder.
add_executable(tst_e2e tst_e2e.cpp testsupport.h)
target_link_libraries(tst_e2e PRIVATE ambulon_window Qt5::Test)
add_dependencies(tst_e2e ambulon velorun treadmill-sim)
target_compile_definitions(tst_e2e PRIVATE AMBULON_TESTS_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
add_test(NAME tst_e2e
  COMMAND xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96 -nolisten tcp" $<TARGET_FILE:tst_e2e>
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
set_tests_properties(tst_e2e PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=xcb" LABELS e2e)

# libFuzzer on the library's reading of host and port texts (clang only); the
# corpus in the repository seeds it, new finds stay in the build folder.
if(AMBULON_FUZZ)
  add_executable(fuzz_endpoint fuzz_endpoint.cpp ${PROJECT_SOURCE_DIR}/velorun/endpoint.cpp)
  target_include_directories(fuzz_endpoint PRIVATE ${PROJECT_SOURCE_DIR}/velorun)
  target_compile_options(fuzz_endpoint PRIVATE -fsanitize=fuzzer)
  target_link_options(fuzz_endpoint PRIVATE -fsanitize=fuzzer)
  set(AMBULON_FUZZ_SECONDS 60 CACHE STRING "How long the fuzzer runs")
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus)
  add_test(NAME fuzz_endpoint
    COMMAND fuzz_endpoint -max_total_time=${AMBULON_FUZZ_SECONDS} -max_len=4096
            ${CMAKE_CURRENT_BINARY_DIR}/fuzz-corpus ${CMAKE_CURRENT_SOURCE_DIR}/fuzz-corpus)
  set_tests_properties(fuzz_endpoint PROPERTIES LABELS fuzz TIMEOUT 300)
endif()

# The simulator under misbehaving peers, started as a process of its own; the
# test steers it with pipes, descriptors and signals of a Linux process.
ambulon_test(tst_simulator SOURCES tst_simulator.cpp)
add_dependencies(tst_simulator treadmill-sim)
