#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "apps/kvt/kvt_app.hpp"

namespace kvtraj::app {
namespace {

struct Usage {
  std::string_view command;
  std::string_view text;
};

constexpr std::array<Usage, 10> kUsages = {{
    {"compress",
     "usage: kvt compress -i TRAJ -o OUT.kvt [--album LIST] [--natoms N]\n"
     "                    [--top FILE [--select SEL] [--index FILE.ndx] [--pbc MODE]\n"
     "                     [--fit-select SEL | --ref FILE] [--write-top FILE.pdb]]\n"
     "                    [--vectors K | --quality PCT | --rmsd A] [--kvt6] [--title TEXT]\n"
     "                    [--no-fit] [--solver exact|randomized|auto] [--memory MB]\n"
     "                    [--threads T] [--max-error E [--solvent SEL]] [--quiet]\n"
     "  Stores a trajectory in principal-component form. TRAJ may carry a frame selection,\n"
     "  e.g. 'run.dcd(1:500:2)'; --album reads the files of a list instead. Snapshots are\n"
     "  fitted onto the first, then onto their average until it moves less than 1e-4 A\n"
     "  (at most 10 rounds), unless --no-fit. Keeps K vectors, or the fewest that hold PCT %\n"
     "  of the variance (default 90), or the fewest whose discarded variance gives an\n"
     "  expected RMS error of at most A angstrom. --kvt6 stores 16-bit projections.\n"
     "  The frames are streamed block by block, one pass per fit round and per step, and are\n"
     "  never all in memory; AMBER text, albums and strided selections are copied once to a\n"
     "  temporary file in TMPDIR (removed at exit) so that later passes read at disk speed.\n"
     "  --solver exact factorises the covariance (or Gram) matrix once; randomized runs block\n"
     "  Lanczos on the frames until the kept eigenpairs converge; auto (default) takes exact\n"
     "  when its matrix fits --memory (default a quarter of the RAM) and is of order 3000 or\n"
     "  less. The summary line names the solver used. --threads (default 2) is the number of\n"
     "  threads: each reads and works through its own part of the frames, through its own\n"
     "  opening of the input (albums and slow inputs: from the temporary copy once it is made;\n"
     "  until then one thread reads ahead while the others share each block). --threads 1 runs\n"
     "  on one thread alone.\n"
     "  --top names a topology (PDB, GRO, PSF, PRMTOP) of the trajectory's atoms; --select\n"
     "  stores only the atoms SEL selects (the language of MDAnalysis's select_atoms, e.g.\n"
     "  'protein and name CA'; --index adds the groups of a GROMACS index file), and the\n"
     "  KVT file keeps their names. --pbc none|whole|nojump repairs periodic images: whole\n"
     "  makes every molecule that holds a stored atom whole in every frame, nojump also keeps\n"
     "  atoms from jumping between frames (default nojump with a topology and unit cells,\n"
     "  otherwise none). The frames are then decoded once into the temporary copy.\n"
     "  --fit-select fits on some of the stored atoms (the fit moves all of them); --ref fits\n"
     "  every frame once onto a PDB or GRO structure of the topology's atoms instead of the\n"
     "  iterated average. --write-top writes the stored atoms with the average as a PDB.\n"
     "  --max-error E writes KVT7: every coordinate of every frame as read (after --select\n"
     "  and --pbc) comes back within E angstrom, float32 rounding included; the vectors kept\n"
     "  (none, or up to 32, or K with --vectors) are those that make the smallest file\n"
     "  (docs/kvt7.md). With --top, the solvent (water and ions by residue name, or the atoms\n"
     "  of --solvent SEL) is coded from its own past, molecule by molecule, without them.\n"},
    {"expand",
     "usage: kvt expand -i IN.kvt -o OUT [--frames SEL] [--vectors FIRST:LAST] [--precision P]\n"
     "                  [--top FILE [--select SEL] [--index FILE.ndx]] [--quiet]\n"
     "  Rebuilds snapshots and writes them as .dcd, .binpos, .crd, .crdbox, .xtc, .trr, .nc\n"
     "  (AMBER NetCDF), .pdb or .gro, by OUT's extension. SEL is a selection such as 10:50:5;\n"
     "  --vectors K uses vectors 1..K. XTC output keeps P grid steps per nm (default 1000).\n"
     "  PDB and GRO need atom names: the file's atom records, or --top (the stored atoms, or\n"
     "  the system they were selected from); --select writes only some of the atoms. The\n"
     "  frames of a KVT7 file are its coded frames (within its maximum error) unless\n"
     "  --vectors is given.\n"},
    {"convert",
     "usage: kvt convert -i TRAJ -o OUT [--album LIST] [--natoms N] [--title TEXT]\n"
     "                   [--top FILE [--select SEL] [--index FILE.ndx] [--pbc MODE]]\n"
     "                   [--precision P] [--quiet]\n"
     "  Writes a trajectory (selection or album) in the format of OUT's extension; unit\n"
     "  cells are carried when the input has them (.crd then becomes crdbox). XTC output\n"
     "  keeps P grid steps per nm (default 1000). With --top, --select and --pbc as for\n"
     "  compress (default none); PDB and GRO output need --top for the names.\n"},
    {"info",
     "usage: kvt info FILE [--natoms N] [--top FILE [--select SEL] [--index FILE.ndx]]\n"
     "  For a KVT file: version, title, counts, quality, the eigenvalue table and the atom\n"
     "  records; for KVT7 also the maximum error and the shares of model, transforms,\n"
     "  residuals and index. For a trajectory: its type, atoms, frames and whether it has a\n"
     "  box; with --top, the topology and what --select keeps.\n"},
    {"query",
     "usage: kvt query -i IN.kvt (--avg | --evals | --evec K | --proj K | --scores I |\n"
     "                 --snap I [--vectors FIRST:LAST] | --maha NV | --fluc K | --cosine K |\n"
     "                 --rmsf) [--xvg | --csv]\n"
     "  Prints the values one per line (%.9g); --avg, --evec and --snap print x y z per atom.\n"
     "  --cosine K: the cosine content of the projections on vector K (near 1: the motion\n"
     "  along K is random diffusion, not sampling); --rmsf: every atom's RMS fluctuation within\n"
     "  the kept vectors (angstrom). --xvg prints a GROMACS xvg table (numbered rows, legends),\n"
     "  --csv comma-separated values under a header.\n"},
    {"project",
     "usage: kvt project -i IN.kvt -t TRAJ [--top FILE [--select SEL] [--index FILE.ndx]\n"
     "                   [--pbc MODE]] [--natoms N] [--vectors FIRST:LAST] [--no-fit]\n"
     "                   [--threads T] [-o OUT.xvg | -o OUT.csv | --xvg | --csv] [--quiet]\n"
     "  Fits every frame of TRAJ onto the KVT file's average and prints its projections on\n"
     "  the vectors (default all), one row per frame. The selection must give the file's\n"
     "  atoms (names are checked when both sides know them); --top, --select, --pbc as for\n"
     "  compress. -o writes the table to a file in the style of its extension.\n"},
    {"compare",
     "usage: kvt compare A B [--vectors K] [--eigenval-a A.xvg] [--eigenval-b B.xvg]\n"
     "                   [--xvg | --csv]\n"
     "  Compares the vectors of two PCAs of the same atoms, each a KVT file or the\n"
     "  eigenvec.trr of gmx covar (or of kvt export): the RMSIP of the first K (default as\n"
     "  many as the smaller holds), the K x K overlap matrix |a_i . b_j|, the cumulative\n"
     "  overlap of each of A's first K with B's first K, and the covariance overlap of the\n"
     "  kept vectors and eigenvalues. A .trr file's eigenvalues are PREFIX.xvg or\n"
     "  eigenval.xvg beside it, or the file --eigenval-a (--eigenval-b) names; both files\n"
     "  are checked against what gmx covar writes. --xvg and --csv print one row per\n"
     "  vector i of A: i, its overlaps with B's vectors 1..K, its cumulative overlap; the\n"
     "  RMSIP and the covariance overlap open the table as '# rmsip R' and '# covariance\n"
     "  overlap C' (numpy.loadtxt(F, comments=['#', '@']) for xvg, xmgrace -nxy F;\n"
     "  pandas.read_csv(F, comment='#') for csv).\n"},
    {"modes",
     "usage: kvt modes -i IN.kvt --vector K -o OUT [--frames N] [--scale S]\n"
     "       kvt modes -i IN.kvt -o OUT.nmd [--vector K]\n"
     "  Writes N structures (default 20) from the smallest to the largest stored projection\n"
     "  on vector K, times S (default 1), then back, as a trajectory that loops (the formats\n"
     "  of expand; PDB and GRO need the file's atom records). OUT.nmd: vectors 1..K (default\n"
     "  all) in the NMD format of VMD's Normal Mode Wizard, scaled by the square roots of\n"
     "  their eigenvalues.\n"},
    {"export",
     "usage: kvt export -i IN.kvt --gromacs PREFIX\n"
     "  Writes PREFIX.trr and PREFIX.xvg as gmx covar writes eigenvec.trr and eigenval.xvg\n"
     "  (nm, nm^2): the average as the reference and the average structure, then each\n"
     "  eigenvector with its number as the step and its eigenvalue as the time; gmx anaeig\n"
     "  reads them (-v PREFIX.trr -eig PREFIX.xvg).\n"},
    {"select",
     "usage: kvt select --top FILE [--index FILE.ndx] SEL [-o OUT.ndx [--name NAME]]\n"
     "  Prints the numbers (from 1) of the atoms that the selection SEL picks from the topology\n"
     "  FILE (.pdb, .gro, .psf, .prmtop or .parm7), one per line; with -o, writes them to\n"
     "  OUT.ndx as a GROMACS index group named NAME (default: SEL, blanks made underscores).\n"
     "  SEL is read as MDAnalysis's select_atoms reads it: 'protein and name CA',\n"
     "  'resid 10:20 and not name H*', 'backbone or resname LIG', 'index 0:99', 'mass 12 to 14';\n"
     "  'group NAME' (in double quotes when NAME has blanks) is a group of the --index file.\n"
     "  A selection that selects no atom is an error.\n"},
}};

constexpr std::string_view kProgramUsage =
    "usage: kvt COMMAND [OPTIONS]   (kvt COMMAND --help for a command's options)\n"
    "commands:\n"
    "  compress  store a trajectory in principal-component form (KVT file)\n"
    "  expand    rebuild the snapshots of a KVT file as a trajectory\n"
    "  convert   convert a trajectory to DCD, binpos, AMBER crd, XTC, TRR or AMBER NetCDF\n"
    "  info      describe a KVT file or a trajectory\n"
    "  query     print values of a KVT file\n"
    "  project   project the frames of a trajectory onto a KVT file's vectors\n"
    "  compare   compare the vectors of two PCAs (KVT files, gmx covar's eigenvec.trr)\n"
    "  modes     the motion along a vector, as a trajectory or an NMD file\n"
    "  export    write a KVT file's PCA as GROMACS's eigenvector files\n"
    "  select    print or save the atoms a selection picks from a topology\n"
    "every command: --verbose also shows what the readers report (file types, opening)\n";

}  // namespace

bool is_command(std::string_view command) {
  for (const Usage& u : kUsages) {
    if (u.command == command) return true;
  }
  return false;
}

void print_usage(std::FILE* stream, std::string_view command) {
  for (const Usage& u : kUsages) {
    if (u.command == command) {
      std::fwrite(u.text.data(), 1, u.text.size(), stream);
      return;
    }
  }
  std::fwrite(kProgramUsage.data(), 1, kProgramUsage.size(), stream);
}

void print_usage_as(std::FILE* stream, std::string_view command, std::string_view program) {
  std::string text;
  for (const Usage& u : kUsages) {
    if (u.command == command) text = u.text;
  }
  constexpr std::string_view kOwn = "usage: kvt ";
  if (!text.starts_with(kOwn)) return print_usage(stream, command);
  // The synopsis' continuation lines are indented under the first line's arguments: shift them
  // as far as the program's name is longer. Descriptions (indented less) stay.
  const std::string shift(program.size() - std::min<std::size_t>(program.size(), 3), ' ');
  const std::string synopsis_indent(kOwn.size(), ' ');
  std::string out = "usage: " + std::string(program) + ' ';
  for (std::size_t i = kOwn.size(); i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && text.compare(i + 1, synopsis_indent.size(), synopsis_indent) == 0) {
      out += shift;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stream);
}

}  // namespace kvtraj::app
