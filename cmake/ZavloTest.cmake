# zavlo_add_test(<name> SOURCES <files...> [LIBS <libs...>] [LABELS unit|e2e|slow...] [TIMEOUT <s>])
# Builds one QtTest executable and registers it with CTest. GUI-bearing tests run offscreen; what
# the tool keeps between runs (history, backups, logs) goes to a folder of the test's own in the
# build tree, never to the user's.
function(zavlo_add_test name)
    cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(NOT T_LABELS)
        set(T_LABELS unit)
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        LABELS "${T_LABELS}"
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_STATE_HOME=${PROJECT_BINARY_DIR}/test-state/${name};ZAVLO_BIN_DIR=${PROJECT_BINARY_DIR}/bin;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/scripts/lsan.supp:fast_unwind_on_malloc=0;ASAN_OPTIONS=detect_leaks=1")
endfunction()
