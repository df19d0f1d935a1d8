// KVT0 and KVT5: text read by columns. Lines 1 to 3 hold the magic, the title and
// "(3i8,f8.3)" counts and quality. KVT0 then holds reals in "(10f8.3)" (the average, and per
// vector three blocks: eigenvector, eigenvalue, projections); KVT5 holds 5-character codes in
// "(16a5)" (the average, then one block of 3N + 1 + F codes per vector).
#include <algorithm>

#include "kvt_io/kvt_internal.hpp"
#include "rscode/rscode.hpp"
#include "support/fatal.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj::kvt {
namespace {

const Format& reals_format() {
  static const Format format("(10f8.3)");
  return format;
}

void read_header(kvtfile& kvtf, FormattedReader& in) {
  std::string line;
  if (in.line(4, line) != kIoOk || in.line(kTitleLength, kvtf.title) != kIoOk) {
    die_file(kvtf, "cannot read the kvt header");
  }
  static const Format counts_format("(3i8,f8.3)");
  in.start(counts_format);
  if (in.integer(kvtf.natoms) != kIoOk || in.integer(kvtf.nframes) != kIoOk ||
      in.integer(kvtf.nvecs) != kIoOk || in.real(kvtf.quality) != kIoOk) {
    die_file(kvtf, "bad counts in the kvt header");
  }
}

// One statement of `values.size()` codes, each turned into its real.
int read_codes(FormattedReader& in, std::span<float> values) {
  static const Format codes_format("(16a5)");
  in.start(codes_format);
  std::string code;
  for (float& v : values) {
    const int status = in.text(code);
    if (status != kIoOk) return status;
    v = stor(code);
  }
  return kIoOk;
}

// Vector k (0-based) of a KVT0 file straight into the handle's columns.
int read_real_vector(kvtfile& kvtf, FormattedReader& in, std::size_t k) {
  const std::size_t n = kvtf.avg.size();
  const auto nf = static_cast<std::size_t>(kvtf.nframes);
  int status = in.reals(reals_format(), std::span<float>(kvtf.evecs.data() + k * n, n));
  if (status == kIoOk) status = in.reals(reals_format(), std::span<float>(&kvtf.evals[k], 1));
  if (status == kIoOk) {
    status = in.reals(reals_format(), std::span<float>(kvtf.proj.data() + k * nf, nf));
  }
  return status;
}

// Vector k (0-based) of a KVT5 file: one block of codes, copied once it is read whole.
int read_coded_vector(kvtfile& kvtf, FormattedReader& in, std::size_t k,
                      std::vector<float>& block) {
  const std::size_t n = kvtf.avg.size();
  const auto nf = static_cast<std::size_t>(kvtf.nframes);
  const int status = read_codes(in, block);
  if (status != kIoOk) return status;
  std::copy_n(block.begin(), n, kvtf.evecs.begin() + static_cast<std::ptrdiff_t>(k * n));
  kvtf.evals[k] = block[n];
  std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(n + 1), nf,
              kvtf.proj.begin() + static_cast<std::ptrdiff_t>(k * nf));
  return kIoOk;
}

}  // namespace

void read_text(kvtfile& kvtf) {
  auto records = RecordReader::open(kvtf.filename);
  if (!records) die_file(kvtf, "cannot open the file");
  FormattedReader in(*records);
  read_header(kvtf, in);
  allocate_for_file(kvtf, size_of_file(kvtf));
  const bool coded = kvtf.magic == "KVT5";
  if ((coded ? read_codes(in, kvtf.avg) : in.reals(reals_format(), kvtf.avg)) != kIoOk) {
    die_file(kvtf, "cannot read the kvt average");
  }
  std::vector<float> block;
  if (coded && kvtf.nvecs > 0) {
    block = allocate_or_die<float>(kvtf.avg.size() + 1 + static_cast<std::size_t>(kvtf.nframes));
  }
  for (std::size_t k = 0; kvtf.status == 0 && k < static_cast<std::size_t>(kvtf.nvecs); ++k) {
    kvtf.status = coded ? read_coded_vector(kvtf, in, k, block) : read_real_vector(kvtf, in, k);
    if (kvtf.status != 0) clear_vector(kvtf, k);
  }
}

}  // namespace kvtraj::kvt
