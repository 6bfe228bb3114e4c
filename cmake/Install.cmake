# Where an installation puts everything, in two components that become the
# packages "cloakline" (the desktop program) and "cloakline-server".
# The program finds its shipped files in ../share/cloakline and its guard in
# ../libexec/cloakline, relative to /usr/bin (core/support/ShellUtils).
include(GNUInstallDirs)
# Packaging builds only what it installs (scripts/package.sh), not the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(CLOAKLINE_HOMEPAGE "https://cloakline.example" CACHE STRING "The project's web address (AppStream data)")
set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_gen ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_gen})

# Man pages and changelog gzipped as Debian wants them (-n: reproducible).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(_gzipped)
foreach(_doc cloakline.1 cloakline-server.8 cloakline-inventory.8 changelog)
    add_custom_command(OUTPUT ${_gen}/${_doc}.gz
        COMMAND ${GZIP_PROGRAM} -9n -c ${_pkg}/${_doc} > ${_gen}/${_doc}.gz
        DEPENDS ${_pkg}/${_doc}
        COMMENT "Compressing ${_doc}")
    list(APPEND _gzipped ${_gen}/${_doc}.gz)
endforeach()
add_custom_target(cloakline_package_docs ALL DEPENDS ${_gzipped})
configure_file(${_pkg}/org.cloakline.Cloakline.metainfo.xml.in ${_gen}/org.cloakline.Cloakline.metainfo.xml @ONLY)

set(_sharedir ${CMAKE_INSTALL_DATADIR}/cloakline)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc)

if(TARGET cloakline)
    set(_c COMPONENT cloakline)
    install(TARGETS cloakline RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${_c})
    # A helper that only the program starts: not for the users' PATH.
    install(TARGETS cloakline-guard RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/cloakline ${_c})
    # What the build lays out beside the program (the demo data stays behind).
    set(_program_dir ${PROJECT_BINARY_DIR}/app)
    install(FILES ${_program_dir}/const.dat DESTINATION ${_sharedir} ${_c})
    install(DIRECTORY ${_program_dir}/lang ${_program_dir}/res ${_program_dir}/skins
        DESTINATION ${_sharedir} ${_c})
    install(FILES ${_pkg}/org.cloakline.Cloakline.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications ${_c})
    install(FILES ${_gen}/org.cloakline.Cloakline.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo ${_c})
    install(DIRECTORY ${CLOAKLINE_THEME_ICON_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor ${_c})
    install(FILES ${_gen}/cloakline.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 ${_c})
    install(FILES ${_pkg}/copyright ${_gen}/changelog.gz DESTINATION ${_docdir}/cloakline ${_c})
endif()

if(TARGET cloakline-server)
    set(_s COMPONENT cloakline-server)
    install(TARGETS cloakline-server cloakline-inventory RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} ${_s})
    # The server's own copy of the flags: it must not need the desktop package.
    install(DIRECTORY ${PROJECT_BINARY_DIR}/app/res/flag_short/
        DESTINATION ${CMAKE_INSTALL_DATADIR}/cloakline-server/flags ${_s})
    install(FILES ${_pkg}/cloakline-server.service DESTINATION lib/systemd/system ${_s})
    install(FILES ${_pkg}/cloakline-server.default DESTINATION /etc/default RENAME cloakline-server ${_s})
    install(FILES ${_gen}/cloakline-server.8.gz ${_gen}/cloakline-inventory.8.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 ${_s})
    install(FILES ${_pkg}/copyright ${_gen}/changelog.gz DESTINATION ${_docdir}/cloakline-server ${_s})
endif()
