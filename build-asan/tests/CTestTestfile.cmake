# CMake generated Testfile for 
# Source directory: /work/wt/coord-media/tests
# Build directory: /work/wt/coord-media/build-asan/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/wt/coord-media/build-asan/tests/test_IO[1]_include.cmake")
add_test([=[fuzz_udif]=] "/usr/bin/cmake" "-E" "env" "TZ=Europe/Paris" "/work/wt/coord-media/tests/fuzz/run_fuzzer.sh" "/work/wt/coord-media/build-asan/tests/fuzz_udif" "/work/wt/coord-media/build-asan/tests/corpus/fuzz_udif" "/work/wt/coord-media/tests/fuzz/seeds/fuzz_udif")
set_tests_properties([=[fuzz_udif]=] PROPERTIES  TIMEOUT "120" _BACKTRACE_TRIPLES "/work/wt/coord-media/tests/CMakeLists.txt;47;add_test;/work/wt/coord-media/tests/CMakeLists.txt;0;")
