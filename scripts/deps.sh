#!/usr/bin/env bash
# Installs the Debian packages that building and testing kvtraj need and that this machine
# lacks. Does nothing when everything is present; needs root (or sudo) otherwise.
set -euo pipefail

# The second line is the NetCDF C library (AMBER NetCDF), the third the Python package and its
# tests, the fourth Open MPI for kvt-mpi, the fifth what installing and packaging use (pip in a
# virtual environment, pkg-config, the man pages, cpack's dpkg-shlibdeps).
packages=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev libopenblas-dev liblapacke-dev
          libnetcdf-dev
          pybind11-dev python3-pybind11 python3-dev python3-numpy python3-pytest
          libopenmpi-dev openmpi-bin
          python3-venv python3-setuptools python3-wheel pkg-config groff-base man-db dpkg-dev file
          clang-format git)
# Peers that interoperability tests compare with; those tests skip when they are absent
# (gromacs: `gmx check` of the XTC files kvt writes).
if [ "${KVTRAJ_WITH_PEERS:-0}" = 1 ]; then
  packages+=(python3-mdtraj python3-mdanalysis python3-matplotlib python3-sklearn gromacs)
fi
if [ "${KVTRAJ_WITH_FUZZ:-0}" = 1 ]; then packages+=(clang libclang-rt-14-dev); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
