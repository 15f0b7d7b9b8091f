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
set(CPACK_PACKAGE_CONTACT "VJXFlash developers <vjxflash@vjx-cards.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Field-update utility for VJX PCI and PCI Express cards")
# The long description in lines of at most 80 characters, as the package
# format shows it.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "vjxflash lists the VJX cards in a computer and brings a card's configuration\n"
  "EEPROM, PCIe bridge EEPROM, FPGA configuration device and microcontroller\n"
  "flash up to a .tcf update file. tcftool builds, inspects and takes apart\n"
  "update files. Includes the hardware access library libmerix32.so.5.")
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
# The package's own documents, where Debian keeps them: the copyright file
# and the changelog (of a native package: its version has no Debian
# revision), compressed as the policy asks (gzip -9, no name or time stamp,
# so that the package builds the same every time).
set(VJX_PACKAGE_DOC ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_PACKAGE_NAME})
set(VJX_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${VJX_CHANGELOG_GZ}
  COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/doc/debian/changelog > ${VJX_CHANGELOG_GZ}
  DEPENDS ${CMAKE_SOURCE_DIR}/doc/debian/changelog
  COMMENT "Compressing the package's changelog")
add_custom_target(package_changelog ALL DEPENDS ${VJX_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/doc/debian/copyright ${VJX_CHANGELOG_GZ} DESTINATION ${VJX_PACKAGE_DOC}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The access library is a shared library in /usr/lib: the system's library
# cache must learn of it when the package is installed or removed.
file(WRITE ${CMAKE_BINARY_DIR}/debian/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
