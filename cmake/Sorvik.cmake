# Shared compile settings and the helpers that declare units, tests and benchmarks.

add_library(sorvik_options INTERFACE)
target_compile_options(sorvik_options INTERFACE -Wall -Wextra -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports std::string concatenation inlined at -O2/-O3 as overlapping copies
    # (GCC bug 105651), a false positive that -Werror would turn into a failed build.
    target_compile_options(sorvik_options INTERFACE -Wno-restrict)
endif()

if(SORVIK_SANITIZE STREQUAL "address-undefined")
    target_compile_options(sorvik_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(sorvik_options INTERFACE -fsanitize=address,undefined)
elseif(SORVIK_SANITIZE STREQUAL "thread")
    target_compile_options(sorvik_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(sorvik_options INTERFACE -fsanitize=thread)
elseif(NOT SORVIK_SANITIZE STREQUAL "")
    message(FATAL_ERROR "Unknown SORVIK_SANITIZE value: ${SORVIK_SANITIZE}")
endif()

if(SORVIK_FUZZ)
    # Coverage instrumentation for libFuzzer in every unit the fuzz targets link.
    target_compile_options(sorvik_options INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    target_link_options(sorvik_options INTERFACE -fsanitize=address,undefined)
endif()

# sorvik_unit(NAME SOURCES ... [DEPS ...]): one static library per unit, so that a
# test links exactly the units it exercises and their dependencies.
function(sorvik_unit name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC sorvik_options ${ARG_DEPS})
endfunction()

# sorvik_test(NAME SOURCES ... DEPS ... [LABELS ...]): a GoogleTest program run by ctest.
function(sorvik_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE sorvik_options GTest::gtest GTest::gmock
        GTest::gtest_main ${ARG_DEPS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
        TIMEOUT 300)
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()

# sorvik_bench(NAME SOURCES ... DEPS ...): a benchmark program that bench.sh runs.
function(sorvik_bench name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE sorvik_options ${ARG_DEPS})
    set_property(GLOBAL APPEND PROPERTY SORVIK_BENCHMARKS ${name})
endfunction()
