# Shared compile settings: every target of the project links corvane_settings
# instead of setting flags directory-wide.
add_library(corvane_settings INTERFACE)
target_compile_features(corvane_settings INTERFACE cxx_std_17)
target_compile_options(corvane_settings INTERFACE
    -Wall -Wextra -Wpedantic -Wnon-virtual-dtor -Woverloaded-virtual
    $<$<BOOL:${CORVANE_WERROR}>:-Werror>)
target_compile_definitions(corvane_settings INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    LTM_DESC
    $<$<CONFIG:Debug>:_GLIBCXX_ASSERTIONS>)

if(CORVANE_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "CORVANE_FUZZ needs clang (scripts/fuzz.sh configures clang-14)")
    endif()
    set(CORVANE_SANITIZE ON)
    # Coverage feedback for libFuzzer from all of our code; only the fuzz
    # targets link libFuzzer's main.
    target_compile_options(corvane_settings INTERFACE -fsanitize=fuzzer-no-link)
endif()
if(CORVANE_SANITIZE AND CORVANE_TSAN)
    message(FATAL_ERROR "CORVANE_SANITIZE and CORVANE_TSAN cannot be combined")
endif()
if(CORVANE_SANITIZE)
    # Undefined behaviour stops the program like a memory fault, so a test or
    # fuzz run cannot pass over it with a printed warning.
    target_compile_options(corvane_settings INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_link_options(corvane_settings INTERFACE -fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
    target_compile_options(corvane_settings INTERFACE -fsanitize=thread)
    target_link_options(corvane_settings INTERFACE -fsanitize=thread)
endif()

# The environment of every test. Under a sanitizer it names the suppression
# files (each entry there says why it is not our fault) and asks for stack
# traces; programs a test starts inherit it.
set(CORVANE_TEST_ENVIRONMENT "LC_ALL=C.UTF-8" "CORVANE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
# The updater honours the proxy variables; a machine's own proxy must not
# stand between the tests and their servers on loopback (empty is unset).
foreach(variable http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY)
    list(APPEND CORVANE_TEST_ENVIRONMENT "${variable}=")
endforeach()
if(CORVANE_SANITIZE)
    list(APPEND CORVANE_TEST_ENVIRONMENT
        "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/sanitizers/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=print_stacktrace=1")
endif()
if(CORVANE_TSAN)
    list(APPEND CORVANE_TEST_ENVIRONMENT
        "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/sanitizers/tsan.supp:second_deadlock_stack=1")
endif()

# The test support a test of layer links (none: the helpers that reach into
# no layer of the updater).
function(corvane_test_support_of layer result)
    if(layer)
        set(${result} corvane_testsupport_${layer} PARENT_SCOPE)
    else()
        set(${result} corvane_testsupport PARENT_SCOPE)
    endif()
endfunction()

# One QtTest executable per unit, registered with CTest. It links the layer
# it exercises, LAYER, with the layers below it and their test support, and
# nothing above: a test of the task framework builds without the network,
# the engine or the window. Without LAYER it links only the support that
# reaches into no layer (servers, processes, files), for tests that run the
# programs. GUI tests need no display: every test runs on the offscreen
# platform.
#   corvane_add_test(<name> [LAYER <layer>] SOURCES <files...> [LIBRARIES <libs...>] [TIMEOUT <s>]
#       [LABELS <labels...>])
function(corvane_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT;LAYER" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    corvane_test_support_of("${ARG_LAYER}" support)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${support} Qt6::Test ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${CORVANE_TEST_ENVIRONMENT}")
endfunction()

# Benchmarks print figures and never take part in a test run; they link as
# tests do.
#   corvane_add_benchmark(<name> [LAYER <layer>] SOURCES <files...> [LIBRARIES <libs...>])
function(corvane_add_benchmark name)
    if(NOT CORVANE_BUILD_BENCHMARKS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "LAYER" "SOURCES;LIBRARIES" ${ARGN})
    corvane_test_support_of("${ARG_LAYER}" support)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${support} ${ARG_LIBRARIES})
endfunction()
