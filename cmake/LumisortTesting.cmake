# Under LUMISORT_SANITIZE every test, and every program it starts (children
# inherit the environment), stops at the first memory error, leak or undefined
# behaviour and fails. The suppressions only name faults of outside libraries.
set(LUMISORT_TEST_ENVIRONMENT)
if(LUMISORT_SANITIZE)
    set(lumisort_sanitizer_dir ${CMAKE_SOURCE_DIR}/tests/sanitizers)
    list(APPEND LUMISORT_TEST_ENVIRONMENT
        "ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:abort_on_error=0:halt_on_error=1"
        "LSAN_OPTIONS=suppressions=${lumisort_sanitizer_dir}/lsan.supp:print_suppressions=0"
        "UBSAN_OPTIONS=suppressions=${lumisort_sanitizer_dir}/ubsan.supp:print_stacktrace=1:halt_on_error=1")
endif()

# lumisort_add_test(<name> SOURCES <files...> LIBRARIES <targets...>)
#
# One Qt Test executable per test class, registered with CTest under the
# same name. Every test links the test-support library, which gives it a
# sandboxed HOME and XDG folders, the offscreen platform and the path of
# the shared camera test photos.
function(lumisort_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE lumisort_compile_settings lumisort_testsupport Qt6::Test ${ARG_LIBRARIES})
    # Tests run the command-line tool (make-card, verbs): build it first.
    add_dependencies(${name} lumisort-cli)
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set(environment
        LUMISORT_TESTDATA_DIR=${LUMISORT_TESTDATA_DIR}
        LUMISORT_CLI=$<TARGET_FILE:lumisort-cli>
        LUMISORT_APP=$<TARGET_FILE:lumisort>
        ${LUMISORT_TEST_ENVIRONMENT})
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "${environment}")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
