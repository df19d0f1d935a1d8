#!/bin/bash
# Makes the inputs of bench/codec/compare.py with GROMACS (Debian `gromacs`), once, under WORK:
#   vac/md_whole.trr  the shared peptide in vacuum, 10 ns, a frame every 0.2 ps (50,001 frames);
#                     the bench reads its first frames at 0.2 ps and every 25th (5 ps apart)
#   helix/md_whole.trr  the A6PA6 helix of the shared topologies, vacuum, 10 ns, likewise (the
#                     bench reads every 25th frame: a second system for the components at 5 ps)
#   crambin/md_whole.trr  crambin (bench/codec/1crn.pdb, PDB entry 1CRN), vacuum, 10 ns, likewise:
#                     a folded protein (about 13 minutes of mdrun on 2 cores)
#   water/md.xtc      the peptide in TIP3P water, NPT, a frame every 0.5 ps, as mdrun writes it
# usage: make_inputs.sh WORK [WATER_STEPS]
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
DATA=$(cd "$HERE/../../../shared/data" 2>/dev/null && pwd || echo /work/shared/data)
W=${1:?work directory}; WATER_STEPS=${2:-50000}
mkdir -p "$W"; W=$(cd "$W" && pwd)
# The vacuum runs, as folder:input.
missing=()
for run in "vac:$DATA/peptide.pdb" "helix:$DATA/topologies/A6PA6_alpha.pdb" "crambin:$HERE/1crn.pdb"; do
  [ -s "$W/${run%%:*}/md_whole.trr" ] || missing+=("$run")
done
if [ ${#missing[@]} -gt 0 ]; then
  # run_md.sh takes its run parameters from its own folder: a copy with 10 ns instead of 130 ps.
  rm -rf "$W/tools"; cp -r "$DATA/tools" "$W/tools"; chmod -R u+w "$W/tools"
  sed -i -e 's/^nsteps .*/nsteps          = 5000000/' "$W/tools/md_vac.mdp"
fi
for run in "${missing[@]}"; do
  bash "$W/tools/run_md.sh" "${run#*:}" "$W/${run%%:*}"
done
if [ ! -s "$W/water/md.xtc" ]; then
  bash "$DATA/tools/run_water_md.sh" "$DATA/peptide.pdb" "$W/water" "$WATER_STEPS"
fi
echo "inputs ready in $W"
