# Third-party libraries: zlib from the MinGW package, Lua 5.1, libpng and
# FreeImage built for this target by scripts/build-deps.sh into KIV_DEPS_PREFIX.
# The script runs at every configure; it does nothing when its stamps are
# current, and a change to its recipe configures (and rebuilds them) again.
set(KIV_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps CACHE PATH "Prefix of the cross-built dependencies")
option(KIV_BUILD_DEPS "Build the dependencies into KIV_DEPS_PREFIX when needed" ON)

if(KIV_BUILD_DEPS)
    set(script ${PROJECT_SOURCE_DIR}/scripts/build-deps.sh)
    file(GLOB recipe ${PROJECT_SOURCE_DIR}/scripts/freeimage/*)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script} ${recipe})
    execute_process(COMMAND bash ${script} ${KIV_DEPS_PREFIX} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "Building the dependencies failed (scripts/build-deps.sh ${KIV_DEPS_PREFIX})")
    endif()
endif()

find_library(KIV_ZLIB NAMES libz.a z REQUIRED)
add_library(kiv::zlib STATIC IMPORTED GLOBAL)
set_target_properties(kiv::zlib PROPERTIES IMPORTED_LOCATION ${KIV_ZLIB})

function(kiv_dep name lib)
    set(path ${KIV_DEPS_PREFIX}/lib/${lib})
    if(NOT EXISTS ${path})
        message(FATAL_ERROR "${path} is missing: run scripts/build-deps.sh ${KIV_DEPS_PREFIX}")
    endif()
    add_library(kiv::${name} STATIC IMPORTED GLOBAL)
    set_target_properties(kiv::${name} PROPERTIES IMPORTED_LOCATION ${path}
        INTERFACE_INCLUDE_DIRECTORIES ${KIV_DEPS_PREFIX}/include)
endfunction()
kiv_dep(lua liblua.a)
kiv_dep(png libpng16.a)
set_target_properties(kiv::png PROPERTIES INTERFACE_LINK_LIBRARIES kiv::zlib)
# Consumers include windows.h before FreeImage.h (it defines its own Windows
# types otherwise) and, after png.h, #undef PNG_Z_DEFAULT_COMPRESSION.
kiv_dep(freeimage libFreeImage.a)
set_target_properties(kiv::freeimage PROPERTIES INTERFACE_COMPILE_DEFINITIONS FREEIMAGE_LIB
    INTERFACE_LINK_LIBRARIES kiv::png)
