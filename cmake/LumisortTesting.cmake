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
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "LUMISORT_TESTDATA_DIR=${LUMISORT_TESTDATA_DIR};LUMISORT_CLI=$<TARGET_FILE:lumisort-cli>;LUMISORT_APP=$<TARGET_FILE:lumisort>")
    if(ARG_LABELS)
        set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
    endif()
endfunction()
