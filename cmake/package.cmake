# `cpack -G DEB` in a build folder: one Debian package with the programs, libraries, headers,
# CMake package, kvtraj.pc, Python module, man pages and completion, installed under /usr. Its
# dependencies on shared libraries are found by dpkg-shlibdeps (the Debian runtime packages of
# OpenBLAS, NetCDF, Open MPI, the C++ runtime); the Python module adds python3 and numpy.
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
# What linking the installed libraries needs (the CMake package finds LAPACK and NetCDF again).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libopenblas-dev | liblapack-dev, libnetcdf-dev, pkg-config")
include(CPack)
