# The Debian package of a store machine: cmake --build build --target package
# (or cpack in the build folder). What goes into it are the install() rules of the top
# CMakeLists.txt: the program folder /opt/quorvane-client, the launchers, the icon and the
# scheduled-run units. Tests and benchmarks have no install rules and stay out.

# The program finds its settings and Auto/ in the folder of its executable, so the layout is
# the same for "cmake --install" as for the package unless someone asks for another prefix.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install root (the program goes to opt/quorvane-client)" FORCE)
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvane-client")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_CONTACT "QuorvaneClient maintainers <quorvane-client@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Store-side synchronization client of the Quorvane network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Fetches the head office's purchase conditions, model personalisation, messages and\n\
documents by FTP or from a folder and integrates them into the store's tables.\n\
Runs by hand, from its launchers, or daily from a systemd timer.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")

# Libraries the executable links come from dpkg-shlibdeps when the machine has it; the Qt
# platform plugins and the other programs the package calls never show up there.
find_program(QUORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
set(quorvane_depends "adduser")
if(QUORVANE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    string(APPEND quorvane_depends
        ", libqt6widgets6, libqt6gui6, libqt6core6, libxml2, libsqlite3-0, libcurl4")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${quorvane_depends}")
# xdg-open shows the report; sqlite3 lets people read the tables.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, sqlite3")

set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/app/install/debian/postinst"
    "${PROJECT_SOURCE_DIR}/app/install/debian/prerm"
    "${PROJECT_SOURCE_DIR}/app/install/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
