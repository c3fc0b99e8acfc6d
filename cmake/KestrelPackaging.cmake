# What `cmake --install` puts in place, and the package `cpack` makes of it in the
# build tree. Natively: kestrel-serve and its manual page, as a .deb whose Depends
# dpkg-shlibdeps reads off the program. Cross-compiled for Windows: the tool,
# tables_demo, the README and the sample tape, as kestrel-VERSION-win64.zip. The
# tests, fuzz targets and simulators are never installed. The version is project()'s.
include(GNUInstallDirs)

set(CPACK_PACKAGE_VENDOR "KESTREL")
set(CPACK_PACKAGE_CONTACT "KESTREL maintainers <maintainers@users.noreply.c-seed-42ef7de3.example>")
set(CPACK_STRIP_FILES ON)

if(WIN32)
    install(TARGETS kestrel tables_demo RUNTIME DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
    install(FILES ${PROJECT_SOURCE_DIR}/samples/demo.tap DESTINATION samples)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "kestrel-${PROJECT_VERSION}-win64")
else()
    install(TARGETS kestrel-serve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES ${PROJECT_SOURCE_DIR}/docs/kestrel-serve.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    set(CPACK_GENERATOR DEB)
    set(CPACK_PACKAGE_NAME kestrel-serve)
    set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
        "serve a cassette-tape image to a home computer over a serial line")
    set(CPACK_PACKAGE_DESCRIPTION
        "kestrel-serve hands a .tap or .tzx tape image, or one inside a .zip
archive, to a 1980s home computer one entry at a time, each time the
machine asks, over a serial line at 115200 baud or a raw TCP connection.
On a terminal it shows the tape's entries and lets the user choose which
one comes next.")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/KestrelDebManPages.cmake)
endif()

include(CPack)
