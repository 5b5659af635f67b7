# The Debian package: everything `cmake --install` puts into the prefix, under /usr, as
# korva_VERSION_ARCH.deb. Its dependencies come from the binaries (dpkg-shlibdeps); the shared
# library gets its shlibs file and the ldconfig trigger. Made by `./korva package`, or by
#   cpack --config BUILD/CPackConfig.cmake -B OUTDIR
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korva)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korva developers")
set(CPACK_PACKAGE_CONTACT "Korva developers <dev@korva.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and tools for Korva movies (.krv)")
set(CPACK_PACKAGE_DESCRIPTION
"Korva plays .krv movies, the block-coded movies of game cut-scenes, demo discs
and self-running movie programs, in a window with their sound (korvaplay,
over SDL2). A .krv file opens with a double click and shows its icon and a
thumbnail in file managers, by its name or by its first bytes.

The tools inspect movies and export their pictures and sound (krvtool), bundle
a movie with the player into one program, and make new movies from Y4M or PNG
pictures and WAV sound (krvenc). libkorva, its C header, CMake package and
pkg-config file let other programs play movies too.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
if(CMAKE_STRIP)
  set(CPACK_KORVA_STRIP ${CMAKE_STRIP})
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/packaging/deb/strip_static.cmake)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The library cache is rebuilt by dpkg's ldconfig trigger, and the MIME, desktop and icon caches
# by the triggers of the packages that own them: the package has no maintainer scripts, so
# dpkg -r leaves nothing of it behind (a postrm would keep it listed until a purge). CPack
# writes ldconfig scripts for a library in /usr/lib unless the extra control files name
# scripts of their own; the two names below are never files, so none is added.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/deb/triggers
    ${CMAKE_SOURCE_DIR}/packaging/deb/no-scripts/postinst ${CMAKE_SOURCE_DIR}/packaging/deb/no-scripts/postrm)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# Only what the install rules name goes in: no build tree's leftovers.
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")
include(CPack)
