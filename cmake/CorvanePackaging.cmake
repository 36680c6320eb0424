# Where an installation puts the updater and the publisher's tools, and the
# packages CPack makes of it (cpack -G DEB, cpack -G TGZ; both by default).
#
#   bin/                           corvane-keytool, corvane-publish, corvane-updateserver
#   lib/corvane/update             the updater, for a publisher to bundle with a client:
#                                  it updates the directory it lies in, so it never goes on PATH
#   share/man/man1/                a page for each of the four programs
#   share/bash-completion/completions/
#   share/doc/corvane-updater/     README.md, LICENSE (also as copyright), examples/ (systemd
#                                  service and timer)

include(GNUInstallDirs)
# By the package's name, as the distribution keeps it.
set(corvaneDocDir "${CMAKE_INSTALL_DATADIR}/doc/corvane-updater")

install(TARGETS corvane-keytool corvane-publish corvane-updateserver
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS update RUNTIME DESTINATION lib/corvane)
install(FILES
        docs/man/update.1 docs/man/corvane-keytool.1 docs/man/corvane-publish.1 docs/man/corvane-updateserver.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# One script completes all four; bash loads it by the name of the command
# being completed, so it lies there under each name.
foreach(command update corvane-keytool corvane-publish corvane-updateserver)
    install(FILES packaging/bash-completion/corvane
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
endforeach()
install(FILES README.md LICENSE DESTINATION ${corvaneDocDir})
# Where Debian looks for a package's licence.
install(FILES LICENSE DESTINATION ${corvaneDocDir} RENAME copyright)
install(FILES packaging/systemd/corvane-update.service packaging/systemd/corvane-update.timer
    DESTINATION ${corvaneDocDir}/examples)

set(CPACK_PACKAGE_NAME "corvane-updater")
set(CPACK_PACKAGE_VENDOR "The Corvane authors")
set(CPACK_PACKAGE_CONTACT "The Corvane authors <packages@corvane.example>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.corvane.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Updater of the Corvane Client, and the tools to publish its releases")
set(CPACK_PACKAGE_DESCRIPTION
    "The updater (lib/corvane/update) fetches a signed release from HTTP mirrors and installs it into the client directory it lies in, with an undo journal, in a window or without one. corvane-keytool, corvane-publish and corvane-updateserver make the keys, publish releases and answer the updater's queries.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Yes and No of the window's boxes in the user's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_PROJECT_CONFIG_FILE "${CMAKE_CURRENT_LIST_DIR}/CorvaneCPackOptions.cmake")
include(CPack)
