# Installs corvane.pc. The file is written when it is installed, for the
# prefix it is installed under (`cmake --install --prefix DIR` included, and
# /usr for the Debian packages), so that pkg-config prints plain absolute
# paths: `-I/usr/include` and `-L/usr/lib/<triplet>` are then recognised as
# the compiler's own folders and left out, and a private prefix gives
# `-I/opt/corvane/include` rather than `.../lib/pkgconfig/../../include`.
# (pkg-config only substitutes variables: a file that found its prefix from
# its own folder would print the `..` steps, and no system folder would match
# them.) A tree moved after installing is found again by pkg-config's own
# means: `--define-prefix` for a `lib/pkgconfig` folder, PKG_CONFIG_SYSROOT_DIR
# for a root unpacked elsewhere (`dpkg -x`, a DESTDIR staging folder).
install(CODE "
  set(CORVANE_PC_TEMPLATE [[${CMAKE_CURRENT_LIST_DIR}/corvane.pc.in]])
  set(CORVANE_PC_OUTPUT [[${PROJECT_BINARY_DIR}/pkgconfig/corvane.pc]])
  set(CORVANE_PC_LIBDIR [[${CMAKE_INSTALL_LIBDIR}]])
  set(CORVANE_PC_INCLUDEDIR [[${CMAKE_INSTALL_INCLUDEDIR}]])
  set(PROJECT_VERSION [[${PROJECT_VERSION}]])
  include([[${CMAKE_CURRENT_LIST_DIR}/CorvanePkgConfigInstall.cmake]])
  " COMPONENT development)
