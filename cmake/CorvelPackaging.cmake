# Debian package: cpack -G DEB in a release build gives corvel_<version>_<arch>.deb, a native
# package (no Debian revision) whose changelog.gz and copyright come from data/debian/.
# Runtime dependencies come from dpkg-shlibdeps (package dpkg-dev), so they follow the
# libraries the binary actually links.
set(CPACK_PACKAGE_NAME corvel)
set(CPACK_PACKAGE_VENDOR "Corvel developers")
set(CPACK_PACKAGE_CONTACT "Corvel developers <corvel@example.org>")
# Written in the words people search for in a package manager.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "per-application CPU and memory monitor for the system tray")
# CPack copies this text into CPackConfig.cmake unescaped: no double quotes, no semicolons.
# The DEB generator indents each line and turns an empty line into a paragraph break.
set(CPACK_PACKAGE_DESCRIPTION "\
Corvel is a small task manager that lives in the desktop's status area (the
system tray). Its label shows the CPU usage of the whole machine, such as
CPU 37%. A click opens a panel listing every running application with its
number of processes, its CPU share and the memory (RAM) it uses, sorted by
CPU usage.

Usage is counted per application, not per process: helper processes count
with the application that started them, and everything that belongs to no
application is summed as System & Background. It works in status areas that
speak StatusNotifierItem and in the X11 system tray, and corvel --once prints
the same list in a terminal, also as JSON.")
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
# A plain strip keeps the compiler's .comment and .note sections; Debian's own packaging tools
# drop them too. Runs after src/ installed the program.
install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/corvel\"
                        COMMAND_ERROR_IS_FATAL ANY)
    endif()")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Directories CPack makes itself follow these, not the packager's umask.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# What loads at run time, out of dpkg-shlibdeps' sight. Most application icons are SVG, which
# Qt reads through a plugin from libqt6svg6; without it the panel shows gears instead. A
# Wayland session with no Xwayland needs Qt's Wayland platform plugin. Corvel's own icon and
# most applications' sit in the hicolor theme, which Qt finds through its index.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, hicolor-icon-theme")

# lintian --pedantic then reports only one informational tag, spelling-error-in-binary for
# "userA": not text but the bytes of an instruction that loads the constant "user", followed
# by the next opcode. It depends on the compiler's code, so it gets no override.
include(CPack)
