# Installation and packaging: `cmake --install` puts the two shared libraries,
# their public headers, gpb2rinex with its man page and bash completion, a
# CMake package config and pkg-config files under the prefix; `cpack -G DEB`
# builds a Debian package of the same files.
#
# Installed layout (GNUInstallDirs):
#   LIBDIR/librawconv.so.V, librawconv_api.so.V (+ SOVERSION and dev links)
#   INCLUDEDIR/rawconv/rawconv.h, rawconv_api.h   (#include <rawconv/...>)
#   BINDIR/gpb2rinex
#   MANDIR/man1/gpb2rinex.1.gz                    (gzip -9n)
#   DATADIR/bash-completion/completions/gpb2rinex
#   lib/rawconv/make_synthetic_gpb, rnx2gpb, nav2epp  (the data tools)
#   DATADIR/doc/rawconv/copyright, changelog.gz   (Debian layout)
#   LIBDIR/cmake/rawconv/rawconvConfig*.cmake, rawconvTargets*.cmake
#   LIBDIR/pkgconfig/rawconv.pc, rawconv_api.pc
#   lib/python3/dist-packages/rawconv/             (the Python package, over
#                                                   the installed library)
#
# Only native builds install; the cross-built Windows files are shipped by
# their own stage.
if(CMAKE_CROSSCOMPILING OR WIN32)
  return()
endif()

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RAWCONV_SOVERSION 1)
set(RAWCONV_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rawconv)

# The dialog library keeps its file and export names; it gets the usual
# versioned file name and links like any other shared library.
set_target_properties(rawconv PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${RAWCONV_SOVERSION})
# rawconv_api is rawconv::api for users of the package config.
set_target_properties(rawconv_api PROPERTIES EXPORT_NAME api)
target_include_directories(rawconv INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_include_directories(rawconv_api INTERFACE
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

install(TARGETS rawconv rawconv_api
  EXPORT rawconvTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/lib/api/rawconv.h
  ${PROJECT_SOURCE_DIR}/lib/api/rawconv_api.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/rawconv)

# The command line, its manual and its completion.
if(TARGET gpb2rinex)
  # Finds the libraries of its own prefix wherever that prefix is.
  file(RELATIVE_PATH _rawconv_bin_to_lib
    /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(gpb2rinex PROPERTIES
    INSTALL_RPATH "$ORIGIN/${_rawconv_bin_to_lib}")
  install(TARGETS gpb2rinex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
set(_rawconv_man ${PROJECT_SOURCE_DIR}/cli/gpb2rinex.1)
set(_rawconv_completion ${PROJECT_SOURCE_DIR}/cli/gpb2rinex.bash-completion)
# Documents are installed compressed, as Debian's policy asks: gzip -9n
# (no name, no time stamp), so the same text always gives the same bytes.
find_program(RAWCONV_GZIP_PROGRAM gzip)
set(_rawconv_docs "")
function(rawconv_gzip_doc source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${RAWCONV_GZIP_PROGRAM} -9n -c ${source} > ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
endfunction()
if(NOT RAWCONV_GZIP_PROGRAM)
  message(WARNING "gzip not found: the man page and the changelog are not installed")
elseif(EXISTS ${_rawconv_man})
  set(_rawconv_man_gz ${PROJECT_BINARY_DIR}/doc/gpb2rinex.1.gz)
  rawconv_gzip_doc(${_rawconv_man} ${_rawconv_man_gz})
  list(APPEND _rawconv_docs ${_rawconv_man_gz})
  install(FILES ${_rawconv_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "cli/gpb2rinex.1 is missing: the man page is not installed")
endif()
if(EXISTS ${_rawconv_completion})
  install(FILES ${_rawconv_completion}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME gpb2rinex)
else()
  message(WARNING "cli/gpb2rinex.bash-completion is missing: the completion is not installed")
endif()

# The data tools the README's examples use (test data from RINEX files,
# synthetic days). They are helpers, not commands of their own, so they go
# into the package's private folder rather than onto the search path.
set(RAWCONV_TOOLS_DIR lib/rawconv)
foreach(_rawconv_tool make_synthetic_gpb rnx2gpb nav2epp)
  if(TARGET ${_rawconv_tool})
    install(TARGETS ${_rawconv_tool} RUNTIME DESTINATION ${RAWCONV_TOOLS_DIR})
  endif()
endforeach()

# Package documents: the machine-readable copyright file and the Debian
# changelog, in DATADIR/doc/rawconv.
set(_rawconv_docdir ${CMAKE_INSTALL_DATADIR}/doc/rawconv)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/packaging/copyright DESTINATION ${_rawconv_docdir})
if(RAWCONV_GZIP_PROGRAM)
  set(_rawconv_changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
  rawconv_gzip_doc(${PROJECT_SOURCE_DIR}/cmake/packaging/changelog ${_rawconv_changelog_gz})
  list(APPEND _rawconv_docs ${_rawconv_changelog_gz})
  install(FILES ${_rawconv_changelog_gz} DESTINATION ${_rawconv_docdir})
endif()
if(_rawconv_docs)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc)
  add_custom_target(rawconv_docs ALL DEPENDS ${_rawconv_docs})
endif()

# The Python package for the system's interpreter, in Debian's folder for
# every Python 3 (RAWCONV_PYTHON_DIR, under the prefix; empty: left out). It
# carries no library of its own and loads the librawconv_api installed
# beside it through the system's loader. Its metadata (the .dist-info that
# pip and importlib.metadata read) is written by the package's own build
# backend, when a Python 3 interpreter is found.
set(RAWCONV_PYTHON_DIR lib/python3/dist-packages CACHE STRING
  "Where the Python package is installed, under the prefix (empty: not installed)")
if(RAWCONV_PYTHON_DIR)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/rawconv
    DESTINATION ${RAWCONV_PYTHON_DIR}
    FILES_MATCHING PATTERN "*.py"
    PATTERN "__pycache__" EXCLUDE
    PATTERN "_lib" EXCLUDE)
  find_package(Python3 COMPONENTS Interpreter QUIET)
  if(Python3_Interpreter_FOUND)
    set(_rawconv_py_meta ${PROJECT_BINARY_DIR}/python-metadata)
    add_custom_command(OUTPUT ${_rawconv_py_meta}/stamp
      COMMAND ${CMAKE_COMMAND} -E rm -rf ${_rawconv_py_meta}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_rawconv_py_meta}
      COMMAND ${Python3_EXECUTABLE} -B -c
        "import sys; sys.path.insert(0, sys.argv[1]); import rawconv_build; rawconv_build.prepare_metadata_for_build_wheel(sys.argv[2])"
        ${PROJECT_SOURCE_DIR}/python/_backend ${_rawconv_py_meta}
      COMMAND ${CMAKE_COMMAND} -E touch ${_rawconv_py_meta}/stamp
      DEPENDS ${PROJECT_SOURCE_DIR}/python/_backend/rawconv_build.py
        ${PROJECT_SOURCE_DIR}/python/pyproject.toml
        ${PROJECT_SOURCE_DIR}/python/README.md
        ${PROJECT_SOURCE_DIR}/python/rawconv/__init__.py
      COMMENT "Writing the Python package's metadata"
      VERBATIM)
    add_custom_target(rawconv_python_metadata ALL DEPENDS ${_rawconv_py_meta}/stamp)
    install(DIRECTORY ${_rawconv_py_meta}/
      DESTINATION ${RAWCONV_PYTHON_DIR}
      PATTERN "stamp" EXCLUDE)
  else()
    message(STATUS "No Python 3 interpreter: the Python package is installed without its metadata")
  endif()
endif()

# CMake package: find_package(rawconv CONFIG) gives rawconv::rawconv and
# rawconv::api.
install(EXPORT rawconvTargets
  NAMESPACE rawconv::
  DESTINATION ${RAWCONV_CMAKE_DIR})
configure_package_config_file(
  ${PROJECT_SOURCE_DIR}/cmake/rawconvConfig.cmake.in
  ${PROJECT_BINARY_DIR}/rawconvConfig.cmake
  INSTALL_DESTINATION ${RAWCONV_CMAKE_DIR})
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/rawconvConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/rawconvConfig.cmake
  ${PROJECT_BINARY_DIR}/rawconvConfigVersion.cmake
  DESTINATION ${RAWCONV_CMAKE_DIR})

# pkg-config files. The prefix is found from the file's own folder, so an
# installed tree may be moved (or installed with `cmake --install --prefix`).
set(_rawconv_pcdir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(RAWCONV_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(RAWCONV_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _rawconv_pc_up /prefix/${_rawconv_pcdir} /prefix)
  string(REGEX REPLACE "/$" "" _rawconv_pc_up "${_rawconv_pc_up}")
  set(RAWCONV_PC_PREFIX "\${pcfiledir}/${_rawconv_pc_up}")
  set(RAWCONV_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(RAWCONV_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(RAWCONV_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
foreach(_rawconv_pc rawconv rawconv_api)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${_rawconv_pc}.pc.in
    ${PROJECT_BINARY_DIR}/${_rawconv_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_rawconv_pc}.pc DESTINATION ${_rawconv_pcdir})
endforeach()

# Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME rawconv)
set(CPACK_PACKAGE_VENDOR "rawconv")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "GPB raw GPS receiver recordings to RINEX: libraries and gpb2rinex")
set(CPACK_PACKAGE_DESCRIPTION
  "rawconv converts raw GPS receiver recordings (GPB files) into RINEX\n\
observation and navigation files. The package holds the conversion\n\
libraries librawconv and librawconv_api with their headers, CMake and\n\
pkg-config files, the command-line converter gpb2rinex, and the data\n\
tools make_synthetic_gpb, rnx2gpb and nav2epp in /usr/lib/rawconv, and\n\
the Python package rawconv for python3.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "rawconv maintainers <rawconv@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Binaries as Debian ships them: stripped, and the libraries with a shlibs
# file so that packages built against them depend on this version or later.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The loader cache is refreshed through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/packaging/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The Python package in the same .deb is used through python3 with NumPy.
if(RAWCONV_PYTHON_DIR)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3, python3-numpy")
endif()
# Library dependencies from the binaries themselves (dpkg-shlibdeps, in
# dpkg-dev); a fixed list where that tool is missing.
find_program(RAWCONV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(RAWCONV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(_rawconv_depends "libc6, libstdc++6, libgcc-s1")
  if(RAWCONV_GZIP AND LIBDEFLATE_LIBRARY)
    string(APPEND _rawconv_depends ", libdeflate0")
  endif()
  if(RAWCONV_GZIP_INPUT AND ZLIB_INCLUDE_DIR)
    string(APPEND _rawconv_depends ", zlib1g")
  endif()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_rawconv_depends}")
endif()
include(CPack)
