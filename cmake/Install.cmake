# `make install` and `make uninstall`, and the Debian package of `make
# package`. The programs find the data folder installed here beside their own
# bin folder (src/model/ResourceLocation.h), so one build installs anywhere.
include(GNUInstallDirs)

# The package and the tests install by component ("instrument", and
# "debian" for the package's own files); a component install writes its own
# install_manifest_<component>.txt and leaves the install_manifest.txt of
# `make install` for `make uninstall` to read.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME instrument)
# Installing builds nothing: the Makefile builds only what is installed, and
# a package made while the tests run must not relink the programs under them.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(LATTICE_APP_ID io.github.elsted.TuningLattice)
# The day PROJECT_VERSION was released: change the two together.
set(LATTICE_RELEASE_DATE 2026-12-06)
set(LATTICE_PACKAGE_MAINTAINER
    "Elsted Tuning Lattice maintainers <maintainers@tuning-lattice.invalid>"
    CACHE STRING "Maintainer of the Debian package")
set(lattice_icon_sizes 16 22 24 32 48 64 128 256)
set(lattice_dist "${PROJECT_SOURCE_DIR}/dist")
set(lattice_staged "${CMAKE_BINARY_DIR}/dist")
set(lattice_data_dir "${CMAKE_INSTALL_DATADIR}/tuning-lattice")
set(lattice_doc_dir "${CMAKE_INSTALL_DATADIR}/doc/tuning-lattice")

execute_process(COMMAND date -u -R -d "${LATTICE_RELEASE_DATE}"
  OUTPUT_VARIABLE LATTICE_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE
  COMMAND_ERROR_IS_FATAL ANY)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LATTICE_PACKAGE_MAINTAINER}")
configure_file(${lattice_dist}/${LATTICE_APP_ID}.metainfo.xml.in
  ${lattice_staged}/${LATTICE_APP_ID}.metainfo.xml @ONLY)

# Manual pages and the package's changelog are installed gzipped, as Debian
# keeps them; -n leaves the time out so that rebuilds are byte for byte equal.
set(lattice_gzipped)
foreach(page man/tuning-lattice.1 man/lattice-tool.1 changelog)
  get_filename_component(name ${page} NAME)
  if(name STREQUAL "changelog")
    set(name changelog.Debian)
  endif()
  configure_file(${lattice_dist}/${page}.in ${lattice_staged}/${name} @ONLY)
  add_custom_command(OUTPUT ${lattice_staged}/${name}.gz
    COMMAND gzip -9nf -k ${name}
    DEPENDS ${lattice_staged}/${name}
    WORKING_DIRECTORY ${lattice_staged} VERBATIM)
  list(APPEND lattice_gzipped ${lattice_staged}/${name}.gz)
endforeach()

# The icon is the logo's mark, its left 40 x 40 square, at each theme size.
add_executable(lattice_render_icon EXCLUDE_FROM_ALL cmake/RenderIcon.cpp)
target_link_libraries(lattice_render_icon PRIVATE Qt5::Gui Qt5::Svg)
target_compile_options(lattice_render_icon PRIVATE -Wall -Wextra)
set(lattice_icons)
foreach(size ${lattice_icon_sizes})
  list(APPEND lattice_icons ${lattice_staged}/icons/${size}x${size}/apps/${LATTICE_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${lattice_icons}
  COMMAND lattice_render_icon ${PROJECT_SOURCE_DIR}/resources/icons/logo.svg 0,0,40
          ${lattice_staged}/icons ${LATTICE_APP_ID} ${lattice_icon_sizes}
  DEPENDS lattice_render_icon ${PROJECT_SOURCE_DIR}/resources/icons/logo.svg VERBATIM)
add_custom_target(lattice_install_files ALL DEPENDS ${lattice_gzipped} ${lattice_icons})

install(TARGETS tuning-lattice lattice-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY patches DESTINATION ${lattice_data_dir})
install(DIRECTORY resources/data/ DESTINATION ${lattice_data_dir})
install(FILES ${lattice_dist}/${LATTICE_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${lattice_staged}/${LATTICE_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${lattice_staged}/tuning-lattice.1.gz ${lattice_staged}/lattice-tool.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${lattice_dist}/copyright DESTINATION ${lattice_doc_dir})
# Only the package has these.
install(FILES ${lattice_staged}/changelog.Debian.gz DESTINATION ${lattice_doc_dir}
  COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${lattice_dist}/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME tuning-lattice
  COMPONENT debian EXCLUDE_FROM_ALL)
foreach(size ${lattice_icon_sizes})
  install(FILES ${lattice_staged}/icons/${size}x${size}/apps/${LATTICE_APP_ID}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DMANIFEST=${CMAKE_BINARY_DIR}/install_manifest.txt
          -P ${PROJECT_SOURCE_DIR}/cmake/Uninstall.cmake
  VERBATIM)

# The Debian package: its dependencies come from the shared libraries the
# programs link (dpkg-shlibdeps).
set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};${PROJECT_NAME};instrument;/"
  "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")
set(CPACK_PACKAGE_NAME tuning-lattice)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "just-intonation instrument on a lattice of prime ratios")
set(CPACK_PACKAGE_DESCRIPTION [[
Elsted Tuning Lattice is a desktop instrument for just intonation. Every
ball of the lattice on screen is an exact pitch ratio, reached from the root
by steps of 2/1, 3/2, 5/4, 7/4, 11/8, 13/8, 17/16, 19/16 and 23/16. Click a
ball, or touch its RFID tag with the wand, and it sounds; cards beside the
lattice name every sounding note with its letter on a staff, its deviation
in cents, its ratio and its frequency.

The voices are Pure Data patches running inside the program. A MIDI keyboard
plays the lattice, every note can go out to other synthesizers tuned exactly
(MPE or MIDI Tuning Standard), and Scala scales go in and out.

The package also holds lattice-tool, the command-line companion that spells
notes, checks the data files, renders voices to WAV files and plays the
wand's part.]])
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")
include(CPack)
