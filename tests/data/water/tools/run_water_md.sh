#!/bin/bash
# Solvated NPT run of a peptide or small protein (e.g. ../peptide.pdb) in TIP3P water, for the
# tests that need a production-like trajectory: water, a box that changes every frame, and
# molecules split across the periodic boundaries as mdrun writes them.
# usage: run_water_md.sh PEPTIDE.pdb WORKDIR [NSTEPS] [SEED] [BOXTYPE] [DISTANCE]
#   BOXTYPE is editconf's -bt: dodecahedron (default), octahedron, triclinic, cubic;
#   DISTANCE (nm, default 1.0) is editconf's -d, the least peptide-edge distance
#   writes WORKDIR/md.xtc (every 0.5 ps), md.tpr, conf.gro (solvated, after EM), topol.top,
#   index.ndx (gmx make_ndx defaults), and the logs
set -euo pipefail
TOOLS=$(cd "$(dirname "$0")" && pwd)
PDB=$(cd "$(dirname "${1:?input pdb}")" && pwd)/$(basename "$1")
W=${2:?workdir}; NSTEPS=${3:-20000}; SEED=${4:-7}; BOXTYPE=${5:-dodecahedron}; DISTANCE=${6:-1.0}
mkdir -p "$W"; cd "$W"
GMX="gmx -quiet -nobackup"
gcc -O1 -o rdtscp_test "$TOOLS/rdtscp_test.c"
./rdtscp_test >/dev/null
gcc -O2 -shared -fPIC -o gmx_rdtscp_shim.so "$TOOLS/gmx_rdtscp_shim.c"
MDRUN_ENV="LD_PRELOAD=$PWD/gmx_rdtscp_shim.so"
awk '/^ENDMDL/ { exit } /^(ATOM|HETATM)/ { $0 = substr($0,1,21) "A" substr($0,23); print } END { print "TER"; print "END" }' \
    "$PDB" > input_clean.pdb
$GMX pdb2gmx -f input_clean.pdb -o pept.gro -p topol.top -ff amber99sb-ildn -water tip3p -ignh > pdb2gmx.log 2>&1
$GMX editconf -f pept.gro -o box.gro -bt "$BOXTYPE" -d "$DISTANCE" -c > editconf.log 2>&1
$GMX solvate -cp box.gro -cs spc216.gro -p topol.top -o solv.gro > solvate.log 2>&1
$GMX grompp -f "$TOOLS/em_water.mdp" -c solv.gro -p topol.top -o em.tpr -maxwarn 1 > grompp_em.log 2>&1
env $MDRUN_ENV $GMX mdrun -deffnm em -ntmpi 1 -ntomp 2 > mdrun_em.out 2>&1
cp em.gro conf.gro
sed -e "s/^nsteps .*/nsteps          = $NSTEPS/" -e "s/^gen-seed .*/gen-seed        = $SEED/" -e "s/^ld-seed .*/ld-seed         = $((SEED + 1))/" "$TOOLS/md_water.mdp" > md.mdp
$GMX grompp -f md.mdp -c em.gro -p topol.top -o md.tpr -maxwarn 1 > grompp_md.log 2>&1
env $MDRUN_ENV $GMX mdrun -deffnm md -ntmpi 1 -ntomp 2 > mdrun_md.out 2>&1
echo q | $GMX make_ndx -f conf.gro -o index.ndx > make_ndx.log 2>&1
echo "water MD done in $W"
