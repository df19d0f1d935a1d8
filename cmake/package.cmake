# `cpack -G DEB` in a build folder: one Debian package with the programs, libraries, headers,
# CMake package, kvtraj.pc, Python module, man pages and completion, installed under /usr. Its
# dependencies on shared libraries are found by dpkg-shlibdeps (the Debian runtime packages of
# OpenBLAS, Open MPI, the C++ runtime); the Python module adds python3 and numpy. The NetCDF
# library, loaded only to read NetCDF-4 files, is recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvtraj)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kvtraj developers <kvtraj@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "molecular-dynamics trajectories: readers, writers, principal-component compression")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own shared libraries (KVTRAJ_SHARED_LIBS) satisfy its programs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
if(KVTRAJ_PYTHON)
  set(python "python3.${Python3_VERSION_MINOR}")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.${Python3_VERSION_MINOR}~), ${python}, python3-numpy")
endif()
# What linking the installed libraries needs (the CMake package finds LAPACK again).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libopenblas-dev | liblapack-dev, pkg-config")
if(KVTRAJ_HAVE_NETCDF)
  # Debian names a library's package after its soname: libnetcdf.so.19 is in libnetcdf19.
  get_target_property(configs netCDF::netcdf IMPORTED_CONFIGURATIONS)
  list(GET configs 0 config)
  get_target_property(netcdf_soname netCDF::netcdf IMPORTED_SONAME_${config})
  if(netcdf_soname MATCHES "^lib([a-z]+)\\.so\\.([0-9]+)$")
    string(APPEND CPACK_DEBIAN_PACKAGE_RECOMMENDS ", lib${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
  endif()
endif()
include(CPack)
