# One line per test target: quorvane_add_test(NAME n SOURCES test_a.cpp LIBS lib LABEL core|gui)
# Every test links the shared support (tests/support/); GUI tests run on Qt's offscreen platform
# so they need no display.
include(GoogleTest)

function(quorvane_add_test)
    cmake_parse_arguments(T "" "NAME;LABEL" "SOURCES;LIBS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL core)
    endif()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} quorvane_test_support GTest::gtest
        GTest::gtest_main quorvane_warnings)
    set(properties LABELS ${T_LABEL} TIMEOUT 300)
    if(T_LABEL STREQUAL "gui")
        list(APPEND properties ENVIRONMENT QT_QPA_PLATFORM=offscreen)
    endif()
    gtest_discover_tests(${T_NAME}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES ${properties})
endfunction()
