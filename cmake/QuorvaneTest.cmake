# One line per test target: quorvane_add_test(NAME n SOURCES a.cpp LIBS lib LABEL core|gui)
# GUI tests run on Qt's offscreen platform so they need no display.
include(GoogleTest)

function(quorvane_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL core)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main quorvane_warnings)
    target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_definitions(${T_NAME} PRIVATE
        QUORVANE_TEST_DATA="${PROJECT_SOURCE_DIR}/tests/data"
        QUORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
        QUORVANE_BINARY_DIR="${PROJECT_BINARY_DIR}")
    set(properties LABELS ${T_LABEL} TIMEOUT 300)
    if(T_LABEL STREQUAL "gui")
        list(APPEND properties ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${properties})
endfunction()
