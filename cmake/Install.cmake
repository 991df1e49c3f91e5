# ---------------------------------------------------------------------------
# Install rules for the deliverables, kept in one place so that the layout an
# installation gets is visible at a glance:
#   DIR/bin              programs (they find the runtime in ../lib/qz381)
#   DIR/lib/qz381        the platform runtime and the loadable modules
#   DIR/share/qz381      installation files (resources/CMakeLists.txt)
# Each rule applies only once its target exists, so the tree installs whatever
# is built so far. `qz381-install --prefix DIR` then writes the registry.
# ---------------------------------------------------------------------------
set(QZ381_INSTALL_LIBDIR lib/qz381)

if(TARGET qz381platform)
  install(TARGETS qz381platform
          LIBRARY DESTINATION ${QZ381_INSTALL_LIBDIR}
          RUNTIME DESTINATION ${QZ381_INSTALL_LIBDIR})
endif()

foreach(module QZ381PrinterSO Vexlink com usb net)
  if(TARGET ${module})
    install(TARGETS ${module} LIBRARY DESTINATION ${QZ381_INSTALL_LIBDIR}
                              RUNTIME DESTINATION ${QZ381_INSTALL_LIBDIR})
  endif()
endforeach()

foreach(program qz381 qz381-sim qz381-install qz381-setup QZ381Setup)
  if(TARGET ${program})
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "$ORIGIN/../${QZ381_INSTALL_LIBDIR}")
    install(TARGETS ${program} RUNTIME DESTINATION bin)
  endif()
endforeach()

# Documentation, and the udev rules shipped in resources/ (USB printer access).
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION share/doc/qz381)
file(GLOB_RECURSE QZ381_UDEV_RULES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/resources/*.rules)
if(QZ381_UDEV_RULES)
  install(FILES ${QZ381_UDEV_RULES} DESTINATION lib/udev/rules.d)
endif()

# ---------------------------------------------------------------------------
# The Debian package: `cpack -G DEB` in the build folder. It installs under
# /usr (programs in /usr/bin, modules in /usr/lib/qz381, installation files in
# /usr/share/qz381/install); `qz381-install --prefix /usr` then writes the
# user's registry, which the package never owns, so removing the package
# leaves it alone.
# ---------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME qz381)
set(CPACK_PACKAGE_VENDOR "Vorna Technologies")
set(CPACK_PACKAGE_CONTACT "QZ381 maintainers <qz381@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "QZ381 receipt printer service: OPOS service object, port modules, qz381 command line")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The runtime's dependencies come from the programs and modules themselves;
# the modules' own library is found in the package's private folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped: the debug information would name the build tree.
set(CPACK_STRIP_FILES ON)
include(CPack)
