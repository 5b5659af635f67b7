# libkorva for other programs: one static library of the whole core (and, with KORVA_SHARED, a
# shared one that exports only the korva_ functions), the public header, a CMake package
# (find_package(Korva) gives Korva::korva) and korva.pc for pkg-config. `cmake --install`
# puts them, the tools and the players into the prefix.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

get_property(_objs GLOBAL PROPERTY KORVA_CORE_OBJS)
set(_korva_objects "")
foreach(o IN LISTS _objs ITEMS korva_platform_obj)
  list(APPEND _korva_objects $<TARGET_OBJECTS:${o}>)
endforeach()

set(_korva_system_libs "")
if(WIN32)
  set(_korva_system_libs user32 winmm shell32)
elseif(KORVA_DEVICE_LIBS)
  set(_korva_system_libs ${KORVA_DEVICE_LIBS})  # the sound device back end
endif()

# On ELF systems the static library is one object, linked from all of the core's, in which only
# the korva_ functions stay global: a program that links it cannot collide with the core's own
# names (read_bits, decode_plane, ...).
if(NOT WIN32 AND CMAKE_OBJCOPY AND CMAKE_LINKER)
  set(_korva_one ${CMAKE_BINARY_DIR}/korva_library.o)
  add_custom_command(OUTPUT ${_korva_one}
    COMMAND ${CMAKE_LINKER} -r -o ${_korva_one} ${_korva_objects}
    COMMAND ${CMAKE_OBJCOPY} --wildcard --keep-global-symbol=korva_* ${_korva_one}
    DEPENDS ${_korva_objects}
    COMMAND_EXPAND_LISTS VERBATIM
    COMMENT "One object for libkorva.a, only the korva_ functions global")
  add_library(korva_library STATIC ${_korva_one})
  set_target_properties(korva_library PROPERTIES LINKER_LANGUAGE CXX)
  # The objects are other targets' outputs: with generators that build each target apart (Unix
  # Makefiles), those targets must be built first, or the command finds no rule for them.
  add_dependencies(korva_library ${_objs} korva_platform_obj)
else()
  add_library(korva_library STATIC ${_korva_objects})
endif()
set_target_properties(korva_library PROPERTIES OUTPUT_NAME korva EXPORT_NAME korva_static)
target_include_directories(korva_library INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                                   $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_definitions(korva_library INTERFACE KORVA_STATIC_DEFINE)
# A C program links the C++ core through its runtime.
if(NOT MSVC)
  target_link_libraries(korva_library INTERFACE stdc++ m ${_korva_system_libs})
endif()
if(NOT WIN32)
  target_link_libraries(korva_library INTERFACE Threads::Threads)
endif()
set(_korva_installed korva_library)
set(_korva_main korva_static)

if(KORVA_SHARED)
  add_library(korva_shared SHARED ${_korva_objects})
  set_target_properties(korva_shared PROPERTIES OUTPUT_NAME korva EXPORT_NAME korva
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  target_include_directories(korva_shared INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                                                    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(korva_shared PRIVATE ${_korva_system_libs})
  if(NOT WIN32)
    target_link_libraries(korva_shared PRIVATE Threads::Threads)
    # Only the public functions leave the library.
    target_link_options(korva_shared PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/cmake/korva.map)
  endif()
  list(APPEND _korva_installed korva_shared)
  set(_korva_main korva)
endif()

install(TARGETS ${_korva_installed} EXPORT KorvaTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/korva/korva.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/korva)
install(EXPORT KorvaTargets NAMESPACE Korva:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Korva)
set(KORVA_MAIN_TARGET ${_korva_main})
set(KORVA_NEEDS_SDL2 OFF)
if(KORVA_DEVICE_LIBS STREQUAL "SDL2::SDL2")
  set(KORVA_NEEDS_SDL2 ON)
endif()
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/KorvaConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/KorvaConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Korva)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KorvaConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KorvaConfig.cmake ${CMAKE_BINARY_DIR}/KorvaConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Korva)

# pkg-config: the prefix is found from the .pc file's own place, so the package may be moved.
# Without the shared library, -lkorva is the static one and brings the C++ runtime along.
if(KORVA_SHARED)
  set(KORVA_PC_CFLAGS "")
  set(KORVA_PC_LIBS "-lkorva")
else()
  set(KORVA_PC_CFLAGS "-DKORVA_STATIC_DEFINE")
  set(KORVA_PC_LIBS "-lkorva -lstdc++ -lm -lpthread")
endif()
set(KORVA_PC_REQUIRES "")
set(KORVA_PC_SDL OFF)
if(KORVA_DEVICE_LIBS STREQUAL "SDL2::SDL2")
  set(KORVA_PC_SDL ON)
  if(KORVA_SHARED)
    set(KORVA_PC_REQUIRES "Requires.private: sdl2")
  else()
    set(KORVA_PC_REQUIRES "Requires: sdl2")
  endif()
endif()
set(KORVA_PC_LIBDIR ${CMAKE_INSTALL_LIBDIR})
# From lib/pkgconfig (or lib/<arch>/pkgconfig) back up to the prefix.
string(REGEX REPLACE "[^/]+" ".." KORVA_PC_UP "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
set(KORVA_PC_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR})
configure_file(${CMAKE_SOURCE_DIR}/cmake/korva.pc.in ${CMAKE_BINARY_DIR}/korva.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/korva.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(t krvtool krvenc korvaplay)
  if(TARGET ${t})
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
