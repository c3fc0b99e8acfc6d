# GoogleTest from Debian's sources (/usr/src/googletest), built with whichever
# toolchain this tree uses, so the same tests run natively and under Wine.
set(KESTREL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)  # MSVC: the static runtime, as ours
    add_subdirectory(${KESTREL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()

include(GoogleTest)

# Tests that touch Wine, a pseudo-terminal, the display or the keyboard share one
# lock so that ctest -j never runs two at once, and each has a hard time limit so a
# deadlock fails instead of hanging the run.
set(KESTREL_EXCLUSIVE_LOCK kestrel_platform)
set(KESTREL_WINE_TIMEOUT 300)

if(CMAKE_CROSSCOMPILING)
    set(KESTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
    # Every Wine test needs the private prefix; it is made once, before the first.
    add_test(NAME wine_prefix_setup
             COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --prepare)
    add_test(NAME wine_prefix_cleanup
             COMMAND ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --shutdown)
    set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix)
    set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix)
    set_tests_properties(wine_prefix_setup wine_prefix_cleanup PROPERTIES
        ENVIRONMENT "WINEPREFIX=${KESTREL_WINEPREFIX}"
        RESOURCE_LOCK ${KESTREL_EXCLUSIVE_LOCK}
        TIMEOUT ${KESTREL_WINE_TIMEOUT})
endif()

# Shared helpers of the tests: the fake session (tests/support/CMakeLists.txt), the
# builders and fixtures (headers).
function(kestrel_add_test_library)
    add_library(kestrel_test_support INTERFACE)
    target_include_directories(kestrel_test_support INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(kestrel_test_support INTERFACE kestrel_session_fake GTest::gtest)
endfunction()

# kestrel_add_tests(name sources... LIBRARIES libs... [PLATFORM] [DISPLAY] [PTY])
# Natively each test case is its own CTest entry. Cross-compiled, the executable is
# one CTest entry run under Wine, so listing the tests never starts Wine at build time.
# PLATFORM marks tests that need the pty, the display or the keyboard natively too;
# DISPLAY runs a cross-compiled test on a private Xvfb (it makes windows); PTY runs it
# under tests/serial/pty_remote.py, which plays the remote end of its serial ports.
function(kestrel_add_tests name)
    cmake_parse_arguments(ARG "PLATFORM;DISPLAY;PTY" "" "LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} kestrel_test_support
                                          GTest::gtest_main kestrel_options)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
        # Test inputs are built with designated initializers that leave defaults out.
        target_compile_options(${name} PRIVATE -Wno-missing-field-initializers)
    endif()
    if(CMAKE_CROSSCOMPILING AND ARG_PTY)
        kestrel_add_python_test(${name} WINE
            ARGS ${CMAKE_CURRENT_SOURCE_DIR}/serial/pty_remote.py
                 ${CMAKE_SOURCE_DIR}/tools/wine-run.sh $<TARGET_FILE:${name}> --gtest_color=no)
    elseif(CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
        set(environment "WINEPREFIX=${KESTREL_WINEPREFIX}")
        if(ARG_DISPLAY)
            list(APPEND environment "KESTREL_DISPLAY=xvfb")
        endif()
        set_tests_properties(${name} PROPERTIES
            ENVIRONMENT "${environment}"
            FIXTURES_REQUIRED wine_prefix
            RESOURCE_LOCK ${KESTREL_EXCLUSIVE_LOCK}
            TIMEOUT ${KESTREL_WINE_TIMEOUT})
    elseif(ARG_PLATFORM)
        add_test(NAME ${name} COMMAND ${name})
        set_tests_properties(${name} PROPERTIES
            RESOURCE_LOCK ${KESTREL_EXCLUSIVE_LOCK} TIMEOUT ${KESTREL_WINE_TIMEOUT})
    else()
        gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120)
    endif()
endfunction()

# kestrel_add_probe(target source... LIBRARIES libs...)
# A small Windows program (no console window) that an end-to-end test drives, with the
# probes' one entry point (tests/e2e/probe_program.h).
function(kestrel_add_probe target)
    cmake_parse_arguments(ARG "" "" "LIBRARIES" ${ARGN})
    add_executable(${target} ${ARG_UNPARSED_ARGUMENTS}
                             ${CMAKE_CURRENT_SOURCE_DIR}/e2e/probe_main_win32.cpp)
    target_link_libraries(${target} PRIVATE ${ARG_LIBRARIES} kestrel_options)
    set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
endfunction()

# kestrel_add_python_test(name ARGS script.py args... [ENVIRONMENT VAR=value...] [WINE]
#                         [TIMEOUT s] [WORKING_DIRECTORY dir])
# A test run by Python, with tools/ on its module path: the one place that lets the
# Python tests import winedesk, remote_sim, tapfile and wine_ports (by hand:
# PYTHONPATH=tools). Under the platform lock with a hard time limit; WINE runs it in
# the private prefix, once it is made.
function(kestrel_add_python_test name)
    cmake_parse_arguments(ARG "WINE" "TIMEOUT;WORKING_DIRECTORY" "ARGS;ENVIRONMENT" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 240)
    endif()
    if(NOT ARG_WORKING_DIRECTORY)
        set(ARG_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    endif()
    find_package(Python3 3.9 REQUIRED COMPONENTS Interpreter)
    add_test(NAME ${name} COMMAND ${Python3_EXECUTABLE} -B ${ARG_ARGS}
             WORKING_DIRECTORY ${ARG_WORKING_DIRECTORY})
    set(environment "PYTHONPATH=${PROJECT_SOURCE_DIR}/tools" ${ARG_ENVIRONMENT})
    if(ARG_WINE)
        list(APPEND environment "WINEPREFIX=${KESTREL_WINEPREFIX}")
        set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix)
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${environment}"
        RESOURCE_LOCK ${KESTREL_EXCLUSIVE_LOCK}
        TIMEOUT ${ARG_TIMEOUT})
endfunction()

# kestrel_add_desktop_test(name SCRIPT script.py PROGRAM VARIABLE target [VARIABLE target...]
#                          [TIMEOUT s])
# An end-to-end test: a Python script that drives Windows programs with real
# keystrokes in a Wine virtual desktop on a private Xvfb (tools/winedesk.py). Each
# program's path reaches the script in the environment variable named before it.
function(kestrel_add_desktop_test name)
    cmake_parse_arguments(ARG "" "SCRIPT;TIMEOUT" "PROGRAM" ${ARGN})
    set(environment "KESTREL_WINE_RUN=${CMAKE_SOURCE_DIR}/tools/wine-run.sh"
                    "KESTREL_E2E_SCREENSHOTS=${CMAKE_BINARY_DIR}/e2e-screens")
    while(ARG_PROGRAM)
        list(POP_FRONT ARG_PROGRAM variable program)
        list(APPEND environment "${variable}=$<TARGET_FILE:${program}>")
    endwhile()
    kestrel_add_python_test(${name} ARGS ${ARG_SCRIPT} ENVIRONMENT ${environment} WINE
                            TIMEOUT ${ARG_TIMEOUT})
endfunction()
