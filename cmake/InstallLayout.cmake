# Where the pieces land in site-packages (and so in the wheel):
#   vantrel_core*.so               the SDK's module, importable at the top level
#   vantrel/_native*.so            the vantrel package's private module
#   vantrel_sim/_sim*.so           the simulator's control module
#   vantrel/_lib/libvantrel_driver.so
# The driver library lives inside the vantrel package rather than loose at
# the top of site-packages, and each module finds it through a run path
# relative to the module's own folder, so an installation works wherever
# it is put and a repaired wheel keeps the same tree.
set(VANTREL_INSTALL_LIBDIR "vantrel/_lib")

# Installs an extension module into `destination` (a folder of
# site-packages, "." for its top) with a run path that reaches the driver.
function(vantrel_install_module target destination)
  file(RELATIVE_PATH _to_lib "/site-packages/${destination}" "/site-packages/${VANTREL_INSTALL_LIBDIR}")
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${_to_lib}")
  install(TARGETS ${target} LIBRARY DESTINATION "${destination}")
endfunction()
