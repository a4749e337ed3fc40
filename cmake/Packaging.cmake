# Installing and the Debian package: `cmake --install <build>` or, in a build folder,
# `cpack -G DEB`, which makes fern-dispatcher_<version>_<arch>.deb. The package installs
#   /usr/bin/fern-dispatcher                          the program
#   /usr/lib/fern-dispatcher/fern_collations.so       the collations for the sqlite3 tool
#   /usr/share/fern-dispatcher/schema.sql             the host database's schema
#   /usr/share/doc/fern-dispatcher/README.md
include(GNUInstallDirs)

install(TARGETS fern-dispatcher RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Not below the multiarch library folder: the README names one path for every machine.
install(TARGETS fern_collations LIBRARY DESTINATION lib/fern-dispatcher)
install(FILES ${PROJECT_SOURCE_DIR}/src/host/schema.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fern-dispatcher)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/fern-dispatcher)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME fern-dispatcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "FernDispatcher maintainers <fern-dispatcher@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "portal transfer of the real-estate office application's listings")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Publishes the listings of the office application's host database as OpenImmo XML to\n\
real-estate portals (FTP, FTPS, SFTP, HTTP), as a generated PHP/MySQL web site and through the\n\
host's REST service; runs with a window or unattended as a nightly job.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The debug information of a RelWithDebInfo build stays in the build folder.
set(CPACK_STRIP_FILES ON)
# The libraries the program and the extension link (Qt with its browser engine, libcurl,
# libxml2, libzip, SQLite, zlib) come from dpkg-shlibdeps; the programs it starts are listed:
# 7za packs, ncftpput uploads, ssh-keygen makes SFTP keys, xdg-open opens the logs, and the
# browser engine's helper process shows the portal login.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "p7zip-full, ncftp, openssh-client, xdg-utils, libqt6webenginecore6-bin")
# sqlite3 makes a host database from the schema; Qt's German texts for its own dialogs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "sqlite3, qt6-translations-l10n")
include(CPack)
