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

if(CORVANE_SANITIZE AND CORVANE_TSAN)
    message(FATAL_ERROR "CORVANE_SANITIZE and CORVANE_TSAN cannot be combined")
endif()
if(CORVANE_SANITIZE)
    target_compile_options(corvane_settings INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(corvane_settings INTERFACE -fsanitize=address,undefined)
endif()
if(CORVANE_TSAN)
    target_compile_options(corvane_settings INTERFACE -fsanitize=thread)
    target_link_options(corvane_settings INTERFACE -fsanitize=thread)
endif()

# One QtTest executable per unit, registered with CTest. GUI tests need no
# display: every test runs on the offscreen platform.
#   corvane_add_test(<name> SOURCES <files...> [LIBRARIES <libs...>] [TIMEOUT <s>] [LABELS <labels...>])
function(corvane_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE corvane corvane_testsupport Qt6::Test ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8;CORVANE_TEST_BINARY_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# Benchmarks print figures and never take part in a test run.
function(corvane_add_benchmark name)
    if(NOT CORVANE_BUILD_BENCHMARKS)
        return()
    endif()
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE corvane corvane_testsupport ${ARG_LIBRARIES})
endfunction()
