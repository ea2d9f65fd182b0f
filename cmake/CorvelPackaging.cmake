# Debian package: cpack -G DEB in a release build gives corvel_<version>_<arch>.deb.
# Runtime dependencies come from dpkg-shlibdeps (package dpkg-dev), so they follow the
# libraries the binary actually links.
set(CPACK_PACKAGE_NAME corvel)
set(CPACK_PACKAGE_VENDOR "Corvel")
set(CPACK_PACKAGE_CONTACT "Corvel developers <corvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "status area monitor of which applications use the processor and memory")
# CPack copies this text into CPackConfig.cmake unescaped: no double quotes, no semicolons.
set(CPACK_PACKAGE_DESCRIPTION "\
Corvel shows the whole machine's processor use in the desktop's status area,
as a label such as CPU 37%. A click opens a panel listing every running
application with its process count, processor share and resident memory.
Everything that belongs to no application is summed as System & Background.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Icon themes are mostly SVG, which Qt reads through plugins from libqt6svg6. Plugins load at
# run time, so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")

include(CPack)
