# Shared compile settings and the helpers that declare units, tests and benchmarks.

add_library(sorvik_options INTERFACE)
# The warnings qBittorrent builds with, as errors. Qt's strings never take or give 8-bit
# text unasked: the program's texts are UTF-8 and its file names bytes, each converted by
# name (QString::fromUtf8, QFile::encodeName).
target_compile_options(sorvik_options INTERFACE -Wall -Wextra -Werror -pedantic -Wshadow
    -Wold-style-cast -Woverloaded-virtual -Wnon-virtual-dtor -Wcast-qual -Wcast-align)
target_compile_definitions(sorvik_options INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
# The program's own code (its units and programs, not the tests and benchmarks) is held to
# -Wsign-conversion too: an int index that could be negative is converted by name
# (Kiv_framework::ToSize, TIntIndexedVector), never silently.
set(SORVIK_PROGRAM_WARNINGS -Wsign-conversion)
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
# A unit declared here is headless: it must not link QtGui or QtWidgets, directly or
# through another unit (sorvik_check_headless_units enforces it).
function(sorvik_unit name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${SORVIK_PROGRAM_WARNINGS})
    target_link_libraries(${name} PUBLIC sorvik_options ${ARG_DEPS})
    set_property(GLOBAL APPEND PROPERTY SORVIK_HEADLESS_UNITS ${name})
endfunction()

# sorvik_window_unit(NAME SOURCES ... [FORMS ...] DEPS ...): the window part of a unit,
# named after it with the suffix _window (App_scan_window holds the dialogs of the
# App_scan namespace). It links QtWidgets, and moc and uic run for it; FORMS are Qt
# Designer files beside the classes that they lay out.
function(sorvik_window_unit name)
    cmake_parse_arguments(ARG "" "" "SOURCES;FORMS;DEPS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES} ${ARG_FORMS})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
        ${CMAKE_CURRENT_BINARY_DIR})
    target_compile_options(${name} PRIVATE ${SORVIK_PROGRAM_WARNINGS})
    target_link_libraries(${name} PUBLIC sorvik_options Qt6::Widgets ${ARG_DEPS})
    set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
    set_property(GLOBAL APPEND PROPERTY SORVIK_WINDOW_UNITS ${name})
endfunction()

# Fails the configuration when a source of the program names a folder in an include
# ("scan/App_scan.h"): a unit's headers are reached by their bare names through the include
# directory of its folder, which only a link to one of the folder's units gives, and a
# path would reach past that from any folder that encloses another.
function(sorvik_check_include_paths)
    file(GLOB_RECURSE sources ${PROJECT_SOURCE_DIR}/app/*.h ${PROJECT_SOURCE_DIR}/app/*.cpp
        ${PROJECT_SOURCE_DIR}/support/*.h ${PROJECT_SOURCE_DIR}/support/*.cpp)
    foreach(source IN LISTS sources)
        file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"]*/")
        if(includes)
            message(FATAL_ERROR "${source} includes a header by its folder: ${includes}. "
                "Include it by its name and link the unit that holds it.")
        endif()
    endforeach()
endfunction()

# Fails the configuration when a headless unit links QtGui, QtWidgets or a window unit,
# directly or through the units it links: the engine, the entry list, the document and
# the command sets must stay testable without a display.
function(sorvik_check_headless_units)
    get_property(headless GLOBAL PROPERTY SORVIK_HEADLESS_UNITS)
    get_property(windows GLOBAL PROPERTY SORVIK_WINDOW_UNITS)
    set(forbidden Qt6::Gui Qt6::Widgets Qt6::OpenGL Qt6::OpenGLWidgets ${windows})
    foreach(unit IN LISTS headless)
        set(pending ${unit})
        set(seen "")
        while(pending)
            list(POP_FRONT pending current)
            if(current IN_LIST seen)
                continue()
            endif()
            list(APPEND seen ${current})
            if(current IN_LIST forbidden)
                message(FATAL_ERROR "The headless unit ${unit} links ${current}; window code "
                    "belongs in a unit declared with sorvik_window_unit.")
            endif()
            if(TARGET ${current})
                get_target_property(imported ${current} IMPORTED)
                if(imported)
                    get_target_property(links ${current} INTERFACE_LINK_LIBRARIES)
                else()
                    get_target_property(links ${current} LINK_LIBRARIES)
                endif()
                if(links)
                    list(APPEND pending ${links})
                endif()
            endif()
        endwhile()
    endforeach()
endfunction()

# What every test program links: the folder of its caches (tests/TestCacheHome.cpp), and,
# compiled once for all of them, the headers that most tests include (a window test's
# headers besides). Parsing GoogleTest and Qt again for each test was much of the build.
function(sorvik_test_commons)
    set(headers <gtest/gtest.h> <QCoreApplication> <QObject> <QString> <algorithm>
        <filesystem> <fstream> <functional> <map> <memory> <random> <set> <string> <vector>)
    add_library(sorvik_test_common OBJECT ${PROJECT_SOURCE_DIR}/tests/TestCacheHome.cpp)
    target_link_libraries(sorvik_test_common PUBLIC sorvik_options GTest::gtest Qt6::Core
        Kiv_framework)
    add_library(sorvik_gui_test_common OBJECT ${PROJECT_SOURCE_DIR}/tests/TestCacheHome.cpp)
    # Not QtTest: its definitions name each test's folder, and a header precompiled with
    # other definitions is refused.
    target_link_libraries(sorvik_gui_test_common PUBLIC sorvik_options GTest::gtest
        Qt6::Widgets Kiv_framework)
    target_include_directories(sorvik_test_common PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_include_directories(sorvik_gui_test_common PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    if(SORVIK_PCH)
        target_precompile_headers(sorvik_test_common PRIVATE ${headers})
        target_precompile_headers(sorvik_gui_test_common PRIVATE ${headers} <QApplication>
            <QWidget> <QTimer> <QHeaderView> <QTreeView> <QMenu> <QAction>)
    endif()
endfunction()

# sorvik_test(NAME SOURCES ... DEPS ... [LABELS ...]): a GoogleTest program run by ctest.
function(sorvik_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    set(common sorvik_test_common)
    if("gui" IN_LIST ARG_LABELS)
        set(common sorvik_gui_test_common)
    endif()
    target_link_libraries(${name} PRIVATE sorvik_options ${common} GTest::gtest GTest::gmock
        GTest::gtest_main ${ARG_DEPS})
    if(SORVIK_PCH)
        target_precompile_headers(${name} REUSE_FROM ${common})
    endif()
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
