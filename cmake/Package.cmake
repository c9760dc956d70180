# The Debian package: `cpack -G DEB` in a build directory makes lumidor_<version>_<arch>.deb
# with everything the install rules put under /usr. Binaries are stripped, as Debian ships
# them; the run-time dependencies come from dpkg-shlibdeps (dpkg-dev).
include(GNUInstallDirs)

# Debian ships manual pages gzipped, without a name or time stamp in the header.
set(manPage ${PROJECT_SOURCE_DIR}/docs/lumidor-check.1)
set(manPageGz ${PROJECT_BINARY_DIR}/lumidor-check.1.gz)
add_custom_command(OUTPUT ${manPageGz}
    COMMAND ${CMAKE_COMMAND} -E copy ${manPage} ${PROJECT_BINARY_DIR}/lumidor-check.1
    COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/lumidor-check.1
    DEPENDS ${manPage} VERBATIM)
add_custom_target(lumidor_man_page ALL DEPENDS ${manPageGz})
install(FILES ${manPageGz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lumidor)

set(CPACK_PACKAGE_NAME lumidor)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "Lumidor maintainers <maintainers@users.noreply.c-seed-af2205c6.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "diagnostic tool for smart cards and PKCS#11 signing tokens")
# CPack puts the summary above this, as the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Lumidor lists the PC/SC readers, reads the card's ATR, identifies the card in
its catalogue, finds the PKCS#11 module that serves it, shows the token's
information and certificates and runs a signing test with the user's PIN.
Its window and reports are in Italian. The package holds the window program
lumidor and the console check lumidor-check.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The PC/SC service and OpenSC serve most cards; pcsc-tools' ATR list names the cards the
# catalogue does not know.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "pcscd, opensc-pkcs11")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pcsc-tools")
include(CPack)
