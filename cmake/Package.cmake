# `make package`: a Debian package of everything `cmake --install` puts in
# place, configured for /usr (see the Makefile's package target), with the udev
# rule where udev reads packaged rules and scripts that make udev read it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillonlib)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "quillonlib developers <quillonlib@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "near-infrared spectrometer modules over USB HID")
set(CPACK_PACKAGE_DESCRIPTION
    "quillonlib drives USB near-infrared spectrometer modules over HID reports: the\n"
    "library with its C interface, the quillon program, a simulated module, the\n"
    "Python package and the udev rule that lets users open the modules.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)  # the debugging symbols stay in the build tree
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # quillonlib_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://localhost/quillonlib")
# What the binaries link (the C++ runtime, the HTTP server library) is read
# from them; what is loaded at run time or imported is named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libhidapi-hidraw0, python3, python3-numpy")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-matplotlib, python3-sklearn")
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_BINARY_DIR}/debian/postinst
               COPYONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/postrm ${PROJECT_BINARY_DIR}/debian/postrm
               COPYONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_BINARY_DIR}/debian/postinst ${PROJECT_BINARY_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
