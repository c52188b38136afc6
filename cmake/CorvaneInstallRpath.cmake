# corvane_install_rpath(TARGET DESTINATION): the installed TARGET, put in
# DESTINATION (below the prefix, as the GNUInstallDirs directories are), finds
# the installed library through a run path relative to its own folder. A copy
# installed under any prefix (`cmake --install ... --prefix DIR`, whatever the
# prefix the build was configured for) or moved with its tree then runs
# without LD_LIBRARY_PATH. Where either folder is given as an absolute path,
# the library's absolute folder is recorded instead.
#
# The Debian packages drop the run path again (debian/prepare-staging.cmake):
# in /usr the loader's own folders hold the library.
function(corvane_install_rpath target destination)
  if(APPLE)
    set(origin "@loader_path")
  else()
    set(origin "$ORIGIN")
  endif()
  if(IS_ABSOLUTE "${destination}" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(rpath "${CMAKE_INSTALL_FULL_LIBDIR}")
  else()
    file(RELATIVE_PATH relative "/${destination}" "/${CMAKE_INSTALL_LIBDIR}")
    set(rpath "${origin}/${relative}")
  endif()
  set_target_properties(${target} PROPERTIES INSTALL_RPATH "${rpath}")
endfunction()
