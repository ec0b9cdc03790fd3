# Helpers that every subsystem's CMakeLists uses.

# kiv_library(name DIRS dir... [LIBS lib...]): a static library of every
# .cpp below the given folders (relative to the calling CMakeLists).
function(kiv_library name)
    cmake_parse_arguments(K "" "" "DIRS;LIBS" ${ARGN})
    set(sources)
    foreach(d ${K_DIRS})
        file(GLOB found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${d}/*.cpp)
        list(APPEND sources ${found})
    endforeach()
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${KIV_WARNINGS})
    if(K_LIBS)
        target_link_libraries(${name} PUBLIC ${K_LIBS})
    endif()
endfunction()

# kiv_test(name SOURCES file... LIBS lib... [ARGS arg...]): a GoogleTest program
# run by CTest through Wine, with ARGS on its command line. One program per
# module keeps a crash from hiding other modules.
function(kiv_test name)
    cmake_parse_arguments(K "DEVICE" "" "SOURCES;LIBS;ARGS" ${ARGN})
    add_executable(${name} ${K_SOURCES})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
    target_compile_options(${name} PRIVATE ${KIV_WARNINGS})
    target_link_libraries(${name} PRIVATE ${K_LIBS} kiv_gtest_main)
    kiv_wine_test(${name} ${name} ${K_ARGS})
    if(K_DEVICE)
        set_tests_properties(${name} PROPERTIES LABELS device)
    endif()
endfunction()

# kiv_wine_test(name target [arg...]): a CTest entry that runs the target's
# program through Wine in its own folder, in the build tree's prefix and test
# session whatever the caller's environment holds (a WINEPREFIX of the user's
# own would run it outside the session, where a crash may pass). Its status 0
# counts only when the program reached its end (scripts/wine-run.sh).
function(kiv_wine_test name target)
    add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${target}> ${ARGN}
             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED wine
                         ENVIRONMENT "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix;KIV_CHECK_END=1")
endfunction()
