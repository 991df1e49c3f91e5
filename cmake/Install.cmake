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

foreach(module QZ381PrinterSO Vexlink com usb)
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
