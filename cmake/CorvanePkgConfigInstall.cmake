# Run by the install (see CorvanePkgConfig.cmake): writes corvane.pc for the
# prefix being installed to and installs it into the library folder's
# pkgconfig folder (DESTDIR honoured, as for every installed file).

cmake_path(SET pc_prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}")
if(NOT pc_prefix STREQUAL "/")
  string(REGEX REPLACE "/$" "" pc_prefix "${pc_prefix}")
endif()

# A folder below the prefix is written through ${prefix}, as pkg-config
# files do (`--define-prefix` then moves it with the prefix); one given as an
# absolute path is written as it is.
function(corvane_pc_directory out dir)
  cmake_path(SET dir NORMALIZE "${dir}")
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  elseif(pc_prefix STREQUAL "/")
    set(${out} "/${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

set(CORVANE_PC_PREFIX "${pc_prefix}")
corvane_pc_directory(CORVANE_PC_LIBDIR_VALUE "${CORVANE_PC_LIBDIR}")
corvane_pc_directory(CORVANE_PC_INCLUDEDIR_VALUE "${CORVANE_PC_INCLUDEDIR}")
configure_file("${CORVANE_PC_TEMPLATE}" "${CORVANE_PC_OUTPUT}" @ONLY)

if(IS_ABSOLUTE "${CORVANE_PC_LIBDIR}")
  set(pc_destination "${CORVANE_PC_LIBDIR}/pkgconfig")
else()
  set(pc_destination "${CMAKE_INSTALL_PREFIX}/${CORVANE_PC_LIBDIR}/pkgconfig")
endif()
file(INSTALL DESTINATION "${pc_destination}" TYPE FILE FILES "${CORVANE_PC_OUTPUT}")
