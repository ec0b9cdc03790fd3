# Third-party libraries: zlib from the MinGW package, Lua 5.1, libpng and
# FreeImage built for this target by scripts/build-deps.sh into KIV_DEPS_PREFIX.
set(KIV_DEPS_PREFIX ${CMAKE_BINARY_DIR}/deps CACHE PATH "Prefix of the cross-built dependencies")

find_library(KIV_ZLIB NAMES libz.a z REQUIRED)
add_library(kiv::zlib STATIC IMPORTED GLOBAL)
set_target_properties(kiv::zlib PROPERTIES IMPORTED_LOCATION ${KIV_ZLIB})

function(kiv_dep name lib)
    set(path ${KIV_DEPS_PREFIX}/lib/${lib})
    add_library(kiv::${name} STATIC IMPORTED GLOBAL)
    set_target_properties(kiv::${name} PROPERTIES IMPORTED_LOCATION ${path}
        INTERFACE_INCLUDE_DIRECTORIES ${KIV_DEPS_PREFIX}/include)
endfunction()
file(MAKE_DIRECTORY ${KIV_DEPS_PREFIX}/include)
kiv_dep(lua liblua.a)
kiv_dep(png libpng16.a)
set_target_properties(kiv::png PROPERTIES INTERFACE_LINK_LIBRARIES kiv::zlib)
kiv_dep(freeimage libFreeImage.a)
set_target_properties(kiv::freeimage PROPERTIES INTERFACE_COMPILE_DEFINITIONS FREEIMAGE_LIB
    INTERFACE_LINK_LIBRARIES kiv::png)
