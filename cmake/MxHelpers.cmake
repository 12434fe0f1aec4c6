# Shared compile settings and helpers for tests, benchmarks and fuzzers.

add_library(mx_warnings INTERFACE)
target_compile_options(mx_warnings INTERFACE -Wall -Wextra -Wshadow -Wnon-virtual-dtor -Wno-unused-parameter
    $<$<BOOL:${MX_WERROR}>:-Werror>)

if(MX_SANITIZE)
    string(REPLACE ";" "," _mx_san "${MX_SANITIZE}")
    add_compile_options(-fsanitize=${_mx_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_mx_san})
endif()

# The fuzz build instruments every library for coverage, so the fuzzer sees the parsers it drives.
if(MX_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# mx_add_test(NAME SOURCES... [LABEL l]): one GoogleTest executable registered with CTest. The label
# "tsan" marks suites that the tsan preset runs again.
function(mx_add_test name)
    cmake_parse_arguments(T "" "LABEL" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE mx_test_support MxModule mxplatform GTest::gtest_main mx_warnings ${T_LIBS})
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES LABELS "${T_LABEL}")
endfunction()

# mx_add_bench(NAME SOURCES...): a Google Benchmark program.
function(mx_add_bench name)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE MxModule mxplatform benchmark::benchmark mx_warnings)
endfunction()

# mx_add_fuzzer(NAME SOURCES...): a libFuzzer target fed from memory.
function(mx_add_fuzzer name)
    add_executable(${name} ${ARGN})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${name} PRIVATE MxModule mxplatform mx_warnings)
endfunction()
