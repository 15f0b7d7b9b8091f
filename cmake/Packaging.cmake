# Installation layout and the Debian package of the field tools: vjxflash,
# tcftool, the access library libmerix32.so.5 and the manual pages. The
# simulator and the tests are not installed. Included before the targets, so
# that the install directories and the run path apply to them.
include(GNUInstallDirs)

# Installed programs find the installed access library beside them
# (bin/../lib), wherever the tree is unpacked; LD_LIBRARY_PATH still comes
# first, which is how a simulated library takes its place.
set(CMAKE_INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vjxflash)
set(CPACK_PACKAGE_VERSION 5.33)
set(CPACK_PACKAGE_CONTACT "VJXFlash maintainers <vjxflash@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Field-update utility for VJX PCI and PCI Express cards")
set(CPACK_PACKAGE_DESCRIPTION
    "vjxflash lists the VJX cards in a computer and brings a card's configuration EEPROM, PCIe bridge EEPROM, FPGA configuration device and microcontroller flash up to a .tcf update file. tcftool builds, inspects and takes apart update files. Includes the hardware access library libmerix32.so.5.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_STRIP_FILES ON)
# Dependencies from the programs' own links (dpkg-shlibdeps); the access
# library is in the package itself and gets a shlibs entry and the ldconfig
# trigger.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
include(CPack)
