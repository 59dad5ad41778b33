# Debian packages built by CPack (`cpack -G DEB` in the build folder, or scripts/package):
# one package per install component, split as Debian splits a library and its programs.
#
#   component         package           contents
#   libtessivar       libtessivar1      the shared library (SONAME major 1), the udev rule
#   libtessivar-dev   libtessivar-dev   header, .so link, pkg-config file, CMake package, SDK
#   tessivar          tessivar          the command-line tool and the Python binding
#   quorvex           quorvex           the application, its help folder, menu entries, icons
#   tessivar-sim      tessivar-sim      the simulated meters' launcher
#
# Every install() rule of the tree names one of these components; anything left in the
# default component would be in no package (scripts/check-package checks that it is empty).
# Each package carries /usr/share/doc/<package>/copyright and changelog.Debian.gz.
# Included once, from packaging/CMakeLists.txt, after every folder has declared its rules.
include_guard(GLOBAL)

set(TESSIVAR_DEB_MAINTAINER "Quorvex maintainers <maintainers@quorvex.example>"
    CACHE STRING "Maintainer field of the Debian packages")
set(TESSIVAR_DEB_RELEASE 1 CACHE STRING "Debian revision of the packages")
set(TESSIVAR_DEB_VERSION ${PROJECT_VERSION}-${TESSIVAR_DEB_RELEASE})

set(tessivar_deb_components libtessivar libtessivar-dev)
if(TARGET tessivar-cli)
  list(APPEND tessivar_deb_components tessivar)
endif()
if(TARGET quorvex)
  list(APPEND tessivar_deb_components quorvex)
endif()
if(TARGET tessivar-sim)
  list(APPEND tessivar_deb_components tessivar-sim)
endif()

function(tessivar_deb_package_name out component)
  if(component STREQUAL "libtessivar")
    set(${out} libtessivar1 PARENT_SCOPE)
  else()
    set(${out} ${component} PARENT_SCOPE)
  endif()
endfunction()

# The changelog and copyright of each package. gzip -9n: maximal and reproducible (no name
# and time in the header), as Debian wants it.
set(tessivar_deb_doc_dir ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/debian/changelog.in ${tessivar_deb_doc_dir}/changelog
  @ONLY)
find_program(TESSIVAR_GZIP gzip REQUIRED)
execute_process(COMMAND ${TESSIVAR_GZIP} -9nc ${tessivar_deb_doc_dir}/changelog
  OUTPUT_FILE ${tessivar_deb_doc_dir}/changelog.Debian.gz
  RESULT_VARIABLE tessivar_gzip_status)
if(NOT tessivar_gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip of the Debian changelog failed: ${tessivar_gzip_status}")
endif()
foreach(component IN LISTS tessivar_deb_components)
  tessivar_deb_package_name(package ${component})
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright
    ${tessivar_deb_doc_dir}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tessivar)
set(CPACK_PACKAGE_VENDOR "Quorvex maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TESSIVAR_DEB_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${tessivar_deb_components})
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${TESSIVAR_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE tessivar)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Run-time libraries from dpkg-shlibdeps. The programs' own library is not installed on the
# build machine: dpkg-shlibdeps finds it in the build tree and skips it, and the packages
# name it below with its version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
get_target_property(tessivar_library_build_dir tessivar BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${tessivar_library_build_dir})
# The shlibs control file of every package with a public shared library (libtessivar1 only).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(lib_dep "libtessivar1 (= ${TESSIVAR_DEB_VERSION})")
foreach(component IN LISTS tessivar_deb_components)
  string(TOUPPER ${component} upper)
  tessivar_deb_package_name(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${component})
endforeach()

set(CPACK_DEBIAN_LIBTESSIVAR_PACKAGE_SECTION libs)
# Own maintainer scripts (udev reload) and an ldconfig trigger instead of CPack's scripts
# that call ldconfig directly.
set(CPACK_DEBIAN_LIBTESSIVAR_PACKAGE_CONTROL_EXTRA
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postinst
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/postrm
  ${CMAKE_CURRENT_SOURCE_DIR}/debian/triggers)
set(CPACK_DEBIAN_LIBTESSIVAR_DESCRIPTION
  "device library for USB optical power meters
Tessivar finds optical power meters (USB vendor 0x4306, product 0x5741) on USB,
speaks their frame protocol, runs one thread per open meter, reads the probe's
calibration and turns raw samples into time-stamped power values. Its interface
is a small set of C functions.

This package holds the shared library and the udev rule that lets the
logged-in user open the meters.")

set(CPACK_DEBIAN_LIBTESSIVAR-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBTESSIVAR-DEV_PACKAGE_DEPENDS "${lib_dep}")
set(CPACK_DEBIAN_LIBTESSIVAR-DEV_DESCRIPTION
  "device library for USB optical power meters - development files
Tessivar finds optical power meters on USB and turns their raw samples into
time-stamped power values through a small set of C functions.

This package holds the header, the link library, the pkg-config file
(pkg-config tessivar), the CMake package (find_package(Tessivar)) and the SDK
folder with the guide, C examples and the Python binding's sources in
/usr/share/tessivar/sdk.")

set(CPACK_DEBIAN_TESSIVAR_PACKAGE_SECTION science)
set(CPACK_DEBIAN_TESSIVAR_PACKAGE_DEPENDS "${lib_dep}, python3")
set(CPACK_DEBIAN_TESSIVAR_DESCRIPTION
  "command-line tool and Python binding for USB optical power meters
The tessivar command lists the attached optical power meters and reads their
identity, calibration, settings and power values, one reading or a stream
into a CSV file. The Python module tessivar reaches the same meters from
python3 scripts.")

set(CPACK_DEBIAN_QUORVEX_PACKAGE_SECTION science)
set(CPACK_DEBIAN_QUORVEX_PACKAGE_DEPENDS "${lib_dep}, fonts-wqy-microhei")
# The demo menu entry runs the application on simulated meters.
set(CPACK_DEBIAN_QUORVEX_PACKAGE_RECOMMENDS "tessivar-sim (= ${TESSIVAR_DEB_VERSION})")
set(CPACK_DEBIAN_QUORVEX_DESCRIPTION
  "desktop application for USB optical power meters
Quorvex scans and connects optical power meters, sets wavelength, range,
attenuation, zero and averaging, and shows the power as numbers, a dial,
statistics and a live curve. It records CSV files and views them again.

The interface is in Chinese. The user manual and the SDK are in the
application's help folder.")

set(CPACK_DEBIAN_TESSIVAR-SIM_PACKAGE_SECTION electronics)
# The launcher preloads umockdev's library by name into the programs it runs.
set(CPACK_DEBIAN_TESSIVAR-SIM_PACKAGE_DEPENDS "umockdev")
set(CPACK_DEBIAN_TESSIVAR-SIM_DESCRIPTION
  "simulated USB optical power meters
tessivar-sim puts simulated optical power meters on a virtual USB bus and runs
a program on it, for demonstrations and tests without hardware:
tessivar-sim --meters 2 -- quorvex.")

include(CPack)
