#!/usr/bin/env bash
# Installs a built kvtraj and uses it as programs outside the tree would:
#   1. `cmake --install` into a staging prefix; every installed header compiles on its own;
#   2. examples/downstream built against it with find_package(kvtraj) and with pkg-config, and
#      built from the source with add_subdirectory as shared libraries, whose exported symbols
#      are checked; each compresses data/sample.dcd and must find the eigenvalues kvt finds;
#   3. `pip install --no-build-isolation .` into a fresh virtual environment (offline, the
#      extension taken from BUILD), then `import kvtraj`, the `kvtraj` script and
#      `python3 -m kvtraj` from another folder;
#   4. `cpack -G DEB`, `apt-get install` of the package, kvt, the Python module and the man pages
#      from /usr, and its removal (needs root or sudo; KVTRAJ_SKIP_DEB=1 leaves it out).
#   scripts/check-install.sh BUILD    BUILD: a built tree with the Python package (e.g. build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:?usage: scripts/check-install.sh BUILD}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/prefix
sample=$root/data/sample.dcd
jobs=$(nproc)
step() { echo "== $*"; }
fail() {
  echo "check-install: $*" >&2
  exit 1
}

step "cmake --install into a staging prefix"
cmake --install "$build" --prefix "$stage" >/dev/null
for header in "$stage"/include/kvtraj/*/*.hpp; do
  name=${header#"$stage"/include/kvtraj/}
  printf '#include "%s"\n' "$name" |
    ${CXX:-c++} -std=c++20 -Wall -Wextra -Wpedantic -Werror -fsyntax-only -I"$stage/include/kvtraj" \
      -x c++ - || fail "installed header $name does not compile alone"
done

# What kvt itself finds: the reference for every build of the example.
kvt=$stage/bin/kvt
"$kvt" compress -i "$sample" -o "$work/ref.kvt" --vectors 4 --threads 1 --quiet >/dev/null
"$kvt" query -i "$work/ref.kvt" --evals >"$work/ref.txt"
[ "$(wc -l <"$work/ref.txt")" = 4 ] || fail "kvt kept other than 4 vectors"

# Runs the example built in folder $2 and compares its results with kvt's.
check_example() {
  local name=$1 dir=$2
  "$dir/downstream" "$sample" "$work/$name.kvt" 4 >"$work/$name.out"
  [ "$(head -1 "$work/$name.out")" = \
    "atoms 200 frames 500 vectors 4 (engine: 200 atoms, 500 frames, 4 vectors)" ] ||
    fail "$name: unexpected counts: $(head -1 "$work/$name.out")"
  tail -n +2 "$work/$name.out" | cmp -s - "$work/ref.txt" ||
    fail "$name: eigenvalues differ from kvt's: $(tail -n +2 "$work/$name.out" | tr '\n' ' ')"
  "$kvt" query -i "$work/$name.kvt" --evals | cmp -s - "$work/ref.txt" ||
    fail "$name: kvt reads other eigenvalues from the example's file"
  echo "$name: the example's eigenvalues are kvt's"
}

step "example with find_package(kvtraj)"
cmake -S examples/downstream -B "$work/package" -DCMAKE_PREFIX_PATH="$stage" >/dev/null
cmake --build "$work/package" -j "$jobs" >/dev/null
check_example package "$work/package"

step "example with pkg-config"
pcdir=$(dirname "$(find "$stage" -name kvtraj.pc)")
PKG_CONFIG_PATH=$pcdir cmake -S examples/downstream -B "$work/pkg-config" -DKVTRAJ_FROM=pkg-config \
  >/dev/null
cmake --build "$work/pkg-config" -j "$jobs" >/dev/null
LD_LIBRARY_PATH=$stage/lib:${LD_LIBRARY_PATH:-} check_example pkg-config "$work/pkg-config"

# Built without optimisation: this build checks linking and exported symbols, not speed.
step "example with add_subdirectory of the source, shared libraries"
cmake -S examples/downstream -B "$work/source" -DKVTRAJ_FROM=source -DKVTRAJ_SOURCE_DIR="$root" \
  -DCMAKE_BUILD_TYPE=None -DKVTRAJ_SHARED_LIBS=ON -DKVTRAJ_MPI=OFF >/dev/null
cmake --build "$work/source" -j "$jobs" >/dev/null
check_example source "$work/source"
symbols=$(nm -D --defined-only -C "$work/source/kvtraj/pca/libkvtraj_pca.so")
grep -q ' T kvtraj::pca::compress(' <<<"$symbols" || fail "libkvtraj_pca.so does not export compress"
if grep -q 'small_eigen' <<<"$symbols"; then fail "libkvtraj_pca.so exports its internals"; fi

step "pip install into a fresh virtual environment"
/usr/bin/python3 -m venv --system-site-packages "$work/venv"
KVTRAJ_BUILD_DIR=$build "$work/venv/bin/pip" install -q --no-build-isolation --no-index "$root"
(
  cd "$work"
  unset PYTHONPATH
  venv=$work/venv/bin
  "$venv/python" - "$sample" "$work/pip.kvt" "$work/ref.txt" "$work/venv" <<'EOF'
import sys
import kvtraj
sample, output, reference, venv = sys.argv[1:]
assert kvtraj.__file__.startswith(venv), f"kvtraj imported from {kvtraj.__file__}"
kvtraj.compress(sample, output, vectors=4)
found = [float(v) for v in kvtraj.open(output).eigenvalues]
want = [float(line) for line in open(reference)]
assert all(abs(f - w) <= 1e-5 * w for f, w in zip(found, want)) and len(found) == 4, (found, want)
EOF
  "$venv/kvtraj" --help >/dev/null
  "$venv/python" -m kvtraj --help >/dev/null
)
echo "pip: import kvtraj, the kvtraj script and python3 -m kvtraj work from $work"

[ "${KVTRAJ_SKIP_DEB:-0}" = 1 ] && exit 0
step "Debian package"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(echo "$work"/deb/kvtraj_*.deb)
dpkg-deb -f "$deb" Depends
if dpkg-query -W -f='${Status}' kvtraj 2>/dev/null | grep -q "ok installed"; then
  fail "kvtraj is already installed"
fi
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "$deb" >/dev/null
remove_package() { DEBIAN_FRONTEND=noninteractive $sudo apt-get purge -y -qq kvtraj >/dev/null; }
trap 'remove_package; rm -rf "$work"' EXIT
cd "$work"
unset PYTHONPATH
/usr/bin/kvt --help >/dev/null
/usr/bin/kvt compress -i "$sample" -o deb.kvt --vectors 4 --threads 1 --quiet >/dev/null
/usr/bin/kvt query -i deb.kvt --evals | cmp -s - ref.txt || fail "/usr/bin/kvt finds other eigenvalues"
/usr/bin/kvt info deb.kvt >/dev/null
/usr/bin/python3 -c 'import kvtraj; assert kvtraj.__file__.startswith("/usr/lib/python3/")'
man -w kvt-compress >/dev/null
[ -f /usr/share/bash-completion/completions/kvt ] || fail "no bash completion"
remove_package
trap 'rm -rf "$work"' EXIT
[ ! -e /usr/bin/kvt ] || fail "/usr/bin/kvt is left after removal"
echo "deb: $(basename "$deb") installs, runs from /usr and is removed"
