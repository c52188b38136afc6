# Debian packages through CPack, one per install component:
#
#   libcorvane1     runtime      the shared library (SONAME libcorvane.so.1)
#   libcorvane-dev  development  headers, libcorvane.so, CMake and pkg-config files
#   corvane         tool         the command-line tool and whatever it installs
#                                beside it (manual page, completion)
#   python3-corvane python       the Python package corvane, for Debian's python3
#
# `cmake --workflow --preset package` configures a build for /usr (so that
# GNUInstallDirs chooses the multiarch library directory), builds it and runs
# `cpack -G DEB`; the packages land in build/package/. Dependencies on system
# libraries come from dpkg-shlibdeps; the packages of this project depend on
# each other with the exact version, as they are built together.

if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(CORVANE_PACKAGE_MAINTAINER "Corvane maintainers <maintainers@corvane.example.org>"
  CACHE STRING "Maintainer field of the Debian packages")
set(CORVANE_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development)
if(CORVANE_BUILD_TOOLS)
  list(APPEND CPACK_COMPONENTS_ALL tool)
endif()
if(TARGET corvane_python)
  list(APPEND CPACK_COMPONENTS_ALL python)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVANE_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool needs libcorvane.so.1, which is in no installed package yet:
# dpkg-shlibdeps finds it in the build tree, and the component dependency
# below names its package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcorvane${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file, so that packages built against the library depend on it
# (only the runtime package holds a shared library; CPack warns that the
# Python package's extension module has no SONAME, which such modules never
# have, and rightly leaves it out of that package's shlibs file).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
  "legacy-compatible cryptography library (MD5, RSA PKCS #1 v1.5, 3DES)
Corvane interoperates byte for byte with peers that speak legacy formats:
an MD5 digest, fixed-capacity big integers, an MD5 random pool and RSA
PKCS #1 v1.5 block operations of up to 1024 bits as C functions, and C++
classes for RSA encryption under hexadecimal keys, triple DES and Base64.

These algorithms are kept for interoperability with existing peers and are
not recommended for new designs.

This package contains the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
  "legacy-compatible cryptography library - development files
Corvane interoperates byte for byte with peers that speak legacy formats:
MD5, RSA PKCS #1 v1.5 block operations, triple DES and Base64.

This package contains the C and C++ headers (C++20), the CMake package
(find_package(Corvane)) and the pkg-config file (corvane).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_COMPONENT_TOOL_DESCRIPTION
  "command-line tool for legacy-compatible MD5, RSA, 3DES and Base64
The corvane command digests files with MD5, encodes and decodes Base64 in
the standard and web-safe alphabets, encrypts and decrypts RSA PKCS #1 v1.5
blocks and triple-DES data, interoperating byte for byte with legacy peers.")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-corvane)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_COMPONENT_PYTHON_DEPENDS runtime)
# The compiled module suits the one Python version it was built for.
if(CORVANE_PYTHON_VERSION MATCHES "^([0-9]+)\\.([0-9]+)$")
  math(EXPR next_minor "${CMAKE_MATCH_2} + 1")
  set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS
    "python3 (>= ${CORVANE_PYTHON_VERSION}), python3 (<< ${CMAKE_MATCH_1}.${next_minor})")
endif()
# corvane.dask runs its jobs on Dask; the rest of the package needs neither.
set(CPACK_DEBIAN_PYTHON_PACKAGE_SUGGESTS "python3-dask, python3-distributed")
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
  "legacy-compatible cryptography library - Python 3 package
Corvane interoperates byte for byte with peers that speak legacy formats:
MD5, RSA PKCS #1 v1.5 block operations, triple DES and Base64.

This package contains the Python module corvane over the library (hashlib-
style MD5, Base64, hexadecimal, triple DES, RSA keys, batches and
envelopes) and corvane.dask, which opens, seals and re-encrypts archives of
envelopes on a Dask cluster.")

# Every Debian package carries its copyright file and changelog in
# /usr/share/doc/<package>/, and lintian overrides, each with the reason, in
# /usr/share/lintian/overrides/<package>. These rules belong to the packages
# only: a plain `cmake --install` leaves them out (EXCLUDE_FROM_ALL).
# SOURCE_DATE_EPOCH, when set, fixes the changelog's date.
string(TIMESTAMP CORVANE_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(debian ${CMAKE_CURRENT_LIST_DIR}/debian)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
  configure_file(${debian}/changelog.in ${PROJECT_BINARY_DIR}/debian/${package}/changelog.Debian @ONLY)
  install(FILES ${debian}/copyright ${PROJECT_BINARY_DIR}/debian/${package}/changelog.Debian
    DESTINATION ${docdir} COMPONENT ${component} EXCLUDE_FROM_ALL)
  install(FILES ${debian}/lintian/${package}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
    COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()
# The dynamic linker's cache is refreshed through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${debian}/triggers)

# Compression and stripping of the staged files, as Debian's tools do them.
find_program(CORVANE_GZIP gzip REQUIRED)
set(CPACK_CORVANE_GZIP ${CORVANE_GZIP})
set(CPACK_CORVANE_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${debian}/prepare-staging.cmake)

include(CPack)
