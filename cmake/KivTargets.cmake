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
    add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> ${K_ARGS}
             WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 FIXTURES_REQUIRED wine)
    if(K_DEVICE)
        set_tests_properties(${name} PROPERTIES LABELS device)
    endif()
endfunction()
