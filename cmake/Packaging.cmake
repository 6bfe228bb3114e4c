# Debian packages of the two install components (scripts/package.sh).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME cloakline)
set(CPACK_PACKAGE_VENDOR "The Cloakline developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cloakline cloakline-server)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Cloakline developers <maintainers@users.noreply.c-seed-65782700.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${CLOAKLINE_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_CLOAKLINE_PACKAGE_NAME cloakline)
# Opens pages with xdg-open; Qt finds its X11 platform plugin at run time, so
# the libraries' dependencies do not name it.
set(CPACK_DEBIAN_CLOAKLINE_PACKAGE_DEPENDS "xdg-utils, qt6-qpa-plugins")
set(CPACK_COMPONENT_CLOAKLINE_DESCRIPTION "hide your IP address from the web sites your browsers visit
Cloakline points your browsers at an HTTP proxy of the country you pick,
so that web sites see the proxy's address and location instead of yours.
Stop gives the browsers back exactly the settings they had.")

set(CPACK_DEBIAN_CLOAKLINE-SERVER_PACKAGE_NAME cloakline-server)
set(CPACK_DEBIAN_CLOAKLINE-SERVER_PACKAGE_DEPENDS "geoip-database")
set(CPACK_DEBIAN_CLOAKLINE-SERVER_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/packaging/server-control/conffiles;${PROJECT_SOURCE_DIR}/packaging/server-control/postrm")
set(CPACK_COMPONENT_CLOAKLINE-SERVER_DESCRIPTION "reference server for the Cloakline program
Answers Cloakline's local-information, update and touch requests, serves
the flag pictures and the check-IP page, and checks its proxies' health.
Ships with a systemd unit and cloakline-inventory to manage the proxies.")

include(CPack)
