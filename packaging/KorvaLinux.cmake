# Korva on a Linux desktop: the player's desktop entry, the .krv MIME type (by name and by the
# movie's first bytes), the icons, the thumbnailer, the manual pages made from the programs' own
# help texts, and the package's copyright and changelog. `cmake --install` puts them into
# PREFIX/share; packaging/KorvaDeb.cmake makes the Debian package of the whole install.
include(GNUInstallDirs)
set(_pkg ${CMAKE_SOURCE_DIR}/packaging)
set(_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_out})

install(FILES ${_pkg}/korva.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_pkg}/korva-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME korva.xml)
install(FILES ${_pkg}/korva.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
# Made by packaging/make_icons.py from the same drawing as the Windows icon.
install(DIRECTORY ${_pkg}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)

find_program(KORVA_GZIP gzip)
# Manual pages are read compressed; gzip -n keeps the bytes the same from build to build.
function(korva_gzip_command out_var file)
  if(KORVA_GZIP)
    set(${out_var} COMMAND ${KORVA_GZIP} -9nkf ${file} PARENT_SCOPE)
  else()
    set(${out_var} COMMAND ${CMAKE_COMMAND} -E copy ${file} ${file}.gz PARENT_SCOPE)
  endif()
endfunction()

# name, summary, help argument, further man_page.cmake settings
set(_man_pages "")
function(korva_man_page name summary help)
  if(NOT TARGET ${name})
    return()
  endif()
  set(page ${_out}/${name}.1)
  korva_gzip_command(gz ${page})
  add_custom_command(OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${name}> -DNAME=${name} "-DSUMMARY=${summary}"
            -DVERSION=${PROJECT_VERSION} -DOUT=${page} -DHELP=${help} ${ARGN} -P ${_pkg}/man_page.cmake
    ${gz}
    DEPENDS ${name} ${_pkg}/man_page.cmake ${_pkg}/korvaplay-extra.roff
    COMMENT "Manual page of ${name} from its help text" VERBATIM)
  set_property(GLOBAL APPEND PROPERTY KORVA_MAN_PAGES ${page}.gz)
endfunction()
korva_man_page(korvaplay "play Korva movies (.krv) in a window" "/?" "-DSEE_ALSO=krvtool krvenc"
               -DEXTRA=${_pkg}/korvaplay-extra.roff)
korva_man_page(krvtool "inspect, export, thumbnail and bundle Korva movies" "--help" -DCOMMANDS=ON
               "-DSEE_ALSO=korvaplay krvenc")
korva_man_page(krvenc "make Korva movies from Y4M or PNG pictures and WAV sound" "--help"
               "-DSEE_ALSO=korvaplay krvtool")

# The package's copyright and changelog (Debian reads both from share/doc/korva). A release
# adds its entry, with its date, to changelog.in.
configure_file(${_pkg}/changelog.in ${_out}/changelog @ONLY)
korva_gzip_command(gz ${_out}/changelog)
add_custom_command(OUTPUT ${_out}/changelog.gz ${gz} DEPENDS ${_out}/changelog VERBATIM)

get_property(_pages GLOBAL PROPERTY KORVA_MAN_PAGES)
# Sanitizer and fuzzer trees run their programs only in their tests.
if(KORVA_SANITIZE OR KORVA_FUZZ)
  add_custom_target(korva_desktop_docs DEPENDS ${_pages} ${_out}/changelog.gz)
else()
  add_custom_target(korva_desktop_docs ALL DEPENDS ${_pages} ${_out}/changelog.gz)
endif()
install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 OPTIONAL)
install(FILES ${_pkg}/copyright ${_out}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
