# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staging tree after the
# components are installed and before the .deb files are made. It finishes
# the files as Debian's packaging tools would:
# - manual pages and Debian changelogs are compressed with `gzip -9n` (no
#   name or time stamp, so the result is reproducible);
# - ELF files lose their symbols and the .comment and .note sections
#   (shared libraries keep what dynamic linking needs: --strip-unneeded),
#   and their run paths: an installed copy finds the library relative to
#   itself under any prefix, but in /usr the loader's own folders hold it,
#   and Debian's policy wants no run path there. (file(RPATH_REMOVE) is
#   what CMake's own install scripts use to rewrite run paths.)

file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_SYMLINK "${path}")
    continue()
  endif()
  if((path MATCHES "/share/man/" OR path MATCHES "/share/doc/[^/]+/changelog[^/]*$")
     AND NOT path MATCHES "\\.gz$")
    execute_process(COMMAND "${CPACK_CORVANE_GZIP}" -9nf "${path}" COMMAND_ERROR_IS_FATAL ANY)
    continue()
  endif()
  file(READ "${path}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    set(options --remove-section=.comment --remove-section=.note)
    if(path MATCHES "\\.so(\\.[0-9]+)*$")
      list(APPEND options --strip-unneeded)
    endif()
    execute_process(COMMAND "${CPACK_CORVANE_STRIP}" ${options} "${path}" COMMAND_ERROR_IS_FATAL ANY)
    file(RPATH_REMOVE FILE "${path}")
  endif()
endforeach()
