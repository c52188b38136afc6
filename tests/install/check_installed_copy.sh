#!/usr/bin/env bash
# An installed copy under a private prefix works with no help from the
# environment, where it was installed and after its tree is moved: the tool
# and the Python module find the library through their own run paths
# (LD_LIBRARY_PATH unset), and pkg-config prints plain absolute paths, which
# `--define-prefix` carries to the moved tree (for a lib/pkgconfig folder;
# pkg-config cannot guess a prefix above lib/<triplet>/pkgconfig).
#
#   tests/install/check_installed_copy.sh BUILD_DIR SCRATCH_DIR
set -euo pipefail
build=$1
prefix="$2/installed" moved="$2/moved"
rm -rf "$prefix" "$moved"
cmake --install "$build" --prefix "$prefix" >/dev/null
unset LD_LIBRARY_PATH PKG_CONFIG_SYSROOT_DIR

runs() {
  "$1/bin/corvane" demo >/dev/null
  local module
  module=$(find "$1" -name '_corvane*.so' | head -n 1)
  [ -z "$module" ] || PYTHONPATH="$(dirname "$(dirname "$module")")" /usr/bin/python3 -c \
    'import corvane; assert corvane.md5(b"abc").hexdigest() == "900150983cd24fb0d6963f7d28e17f72"'
}

# pkg-config's flags for the copy under $1 (further arguments go to pkg-config).
flags_are_plain() {
  local root=$1 pcdir flags
  shift
  pcdir=$(dirname "$(find "$root" -name corvane.pc)")
  flags=$(PKG_CONFIG_PATH="$pcdir" pkg-config "$@" --cflags --libs corvane)
  flags=$(echo $flags)
  [ "$flags" = "-I$root/include -L$(dirname "$pcdir") -lcorvane" ] ||
    { echo "pkg-config $* under $root printed: $flags"; exit 1; }
}

runs "$prefix"
flags_are_plain "$prefix"
mv "$prefix" "$moved"
runs "$moved"
if [ -d "$moved/lib/pkgconfig" ]; then flags_are_plain "$moved" --define-prefix; fi
echo "installed copy of $build: runs without LD_LIBRARY_PATH in place and moved; pkg-config paths plain"
