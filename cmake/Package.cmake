# The Debian package: `cpack -G DEB` in a build directory makes lumidor_<version>_<arch>.deb
# with everything the install rules put under /usr. Binaries are stripped, as Debian ships
# them; the run-time dependencies come from dpkg-shlibdeps (dpkg-dev).
include(GNUInstallDirs)

# Debian ships manual pages and changelogs gzipped, without a name or time stamp in the
# header. `source` is gzipped into the build as `name`.gz and installed to `destination`.
function(lumidor_install_gzipped source name destination)
    set(copy ${PROJECT_BINARY_DIR}/gzipped/${destination}/${name})
    add_custom_command(OUTPUT ${copy}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
        COMMAND gzip -9nf ${copy}
        DEPENDS ${source} VERBATIM)
    string(MAKE_C_IDENTIFIER "lumidor_gz_${destination}_${name}" target)
    add_custom_target(${target} ALL DEPENDS ${copy}.gz)
    install(FILES ${copy}.gz DESTINATION ${destination})
endfunction()

# The manual pages: English in man1, Italian (the program's own language) in it/man1.
foreach(page lumidor.1 lumidor-check.1)
    lumidor_install_gzipped(${PROJECT_SOURCE_DIR}/docs/${page} ${page}
                            ${CMAKE_INSTALL_MANDIR}/man1)
    lumidor_install_gzipped(${PROJECT_SOURCE_DIR}/docs/it/${page} ${page}
                            ${CMAKE_INSTALL_MANDIR}/it/man1)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lumidor)
# A native package's changelog.
lumidor_install_gzipped(${PROJECT_SOURCE_DIR}/packaging/changelog changelog
                        ${CMAKE_INSTALL_DATADIR}/doc/lumidor)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumidor.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME example.lumidor.lumidor.metainfo.xml)

# The compiler's identification in each program is of no use to anyone who runs it: gone
# from the installed programs, as Debian's own packaging removes it.
find_program(LUMIDOR_OBJCOPY NAMES objcopy REQUIRED)
install(CODE "
    foreach(program lumidor lumidor-check)
        set(path \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\")
        if(EXISTS \"\${path}\")
            execute_process(COMMAND ${LUMIDOR_OBJCOPY} --remove-section=.comment \"\${path}\"
                            RESULT_VARIABLE result)
            if(NOT result EQUAL 0)
                message(FATAL_ERROR \"objcopy failed on \${path}\")
            endif()
        endif()
    endforeach()")

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
