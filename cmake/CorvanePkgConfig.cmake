# Configures corvane.pc. The file finds its prefix from where it is installed
# (${pcfiledir}), so an installed tree still works after it is moved or
# unpacked somewhere else (a staging root, `dpkg -x`). The number of steps up
# follows CMAKE_INSTALL_LIBDIR, which may have several levels
# (lib/x86_64-linux-gnu on Debian and Ubuntu). Directories given as absolute
# paths, or leaving the prefix, are written as they are.

function(corvane_pc_directory out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    cmake_path(SET normal NORMALIZE "${dir}")
    set(${out} "\${prefix}/${normal}" PARENT_SCOPE)
  endif()
endfunction()

cmake_path(SET CORVANE_PC_DIR NORMALIZE "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
if(IS_ABSOLUTE "${CORVANE_PC_DIR}" OR CORVANE_PC_DIR MATCHES "^\\.\\.")
  set(CORVANE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH CORVANE_PC_UP "/${CORVANE_PC_DIR}" "/")
  string(REGEX REPLACE "/$" "" CORVANE_PC_UP "${CORVANE_PC_UP}")
  set(CORVANE_PC_PREFIX "\${pcfiledir}/${CORVANE_PC_UP}")
endif()
corvane_pc_directory(CORVANE_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
corvane_pc_directory(CORVANE_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/corvane.pc.in ${PROJECT_BINARY_DIR}/corvane.pc @ONLY)
