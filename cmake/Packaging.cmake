# The Debian package of a store machine: cmake --build build --target package
# (or cpack in the build folder). What goes into it are the install() rules of the top
# CMakeLists.txt: the program /usr/bin/QuorvaneClient (the build that keeps its files in
# /var/lib/quorvane-client/), the launchers, the icon, the scheduled-run units, the manual
# pages (English and French) and the package's documentation. Tests and benchmarks have no install rules.

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
    set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install root (the program goes to usr/bin)" FORCE)
endif()

# Debian wants the manual page and the changelog compressed, reproducibly (no name, no time).
find_program(QUORVANE_GZIP gzip REQUIRED)
set(quorvane_packaged_docs ${PROJECT_BINARY_DIR}/package-docs)
add_custom_command(
    OUTPUT ${quorvane_packaged_docs}/QuorvaneClient.1.gz ${quorvane_packaged_docs}/fr/QuorvaneClient.1.gz
        ${quorvane_packaged_docs}/changelog.Debian.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${quorvane_packaged_docs}/fr
    COMMAND ${QUORVANE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/app/install/man/QuorvaneClient.1
        > ${quorvane_packaged_docs}/QuorvaneClient.1.gz
    COMMAND ${QUORVANE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/app/install/man/fr/QuorvaneClient.1
        > ${quorvane_packaged_docs}/fr/QuorvaneClient.1.gz
    COMMAND ${QUORVANE_GZIP} -9nc ${PROJECT_SOURCE_DIR}/app/install/debian/changelog
        > ${quorvane_packaged_docs}/changelog.Debian.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/app/install/man/QuorvaneClient.1
        ${PROJECT_SOURCE_DIR}/app/install/man/fr/QuorvaneClient.1
        ${PROJECT_SOURCE_DIR}/app/install/debian/changelog
    VERBATIM)
add_custom_target(quorvane_packaged_docs ALL
    DEPENDS ${quorvane_packaged_docs}/QuorvaneClient.1.gz ${quorvane_packaged_docs}/fr/QuorvaneClient.1.gz
        ${quorvane_packaged_docs}/changelog.Debian.gz)
install(FILES ${quorvane_packaged_docs}/QuorvaneClient.1.gz DESTINATION usr/share/man/man1)
# Every word of the program is French; so is the second manual page (man -L fr QuorvaneClient).
install(FILES ${quorvane_packaged_docs}/fr/QuorvaneClient.1.gz DESTINATION usr/share/man/fr/man1)
install(FILES ${quorvane_packaged_docs}/changelog.Debian.gz DESTINATION usr/share/doc/quorvane-client)
# Stripped as Debian's own packages are (dh_strip): the compiler's version notes go too.
find_program(QUORVANE_STRIP NAMES ${CMAKE_STRIP} strip)
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${QUORVANE_STRIP}\" --remove-section=.comment --remove-section=.note
            --strip-unneeded \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/QuorvaneClient\"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()")
install(FILES ${PROJECT_SOURCE_DIR}/app/install/debian/lintian-overrides
    DESTINATION usr/share/lintian/overrides RENAME quorvane-client)

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvane-client")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Quorvane")
set(CPACK_PACKAGE_CONTACT "QuorvaneClient maintainers <maintainers@quorvane-client.fr>")
# The program is still 1.0.0.0; the second packaging of it moved its files out of /opt.
set(CPACK_DEBIAN_PACKAGE_RELEASE "${QUORVANE_PACKAGE_RELEASE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Store-side synchronization client of the Quorvane network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Fetches the head office's purchase conditions, model personalisation,\n\
messages and documents by FTP or from a folder and integrates them into the\n\
store's tables. Runs by hand, from its launchers, or daily from a systemd\n\
timer; each run tells the journal and leaves a status file for monitoring.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")

# Libraries the executable links come from dpkg-shlibdeps when the machine has it; the Qt
# platform plugins and the other programs the package calls never show up there.
find_program(QUORVANE_DPKG_SHLIBDEPS dpkg-shlibdeps)
# The windows are laid out for a narrow face of Tahoma's width (fonts-liberation has Liberation
# Sans Narrow); Qt's own dialogs and buttons speak French with qt6-translations-l10n.
set(quorvane_depends "adduser, fonts-liberation, qt6-translations-l10n")
if(QUORVANE_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    string(APPEND quorvane_depends
        ", libqt6widgets6, libqt6gui6, libqt6core6, libxml2, libsqlite3-0, libcurl4, libssh-4")
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
