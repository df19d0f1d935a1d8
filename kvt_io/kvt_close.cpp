// kvtclose: the whole handle written as a KVT4 or KVT6 stream (or KVT7: KVT4 and a coded part),
// through a temporary file that replaces the target only when every write succeeded.
#include <cerrno>
#include <cstring>

#include "kvt_io/kvt_internal.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "support/fixed_text.hpp"

namespace kvtraj {
namespace {

constexpr std::size_t kStreamHeaderBytes = 116;

// Writes raw bytes and keeps the first failure as the outcome.
class BlockWriter {
 public:
  explicit BlockWriter(std::FILE* file) : file_(file) {}
  template <class T>
  void put(std::span<const T> values) {
    if (values.empty()) return;
    if (std::fwrite(values.data(), sizeof(T), values.size(), file_) != values.size()) fail();
  }
  void fail() {
    if (status_ == 0) status_ = errno != 0 ? errno : EIO;
  }
  std::int32_t status() const { return status_; }

 private:
  std::FILE* file_;
  std::int32_t status_ = 0;
};

void put_i32(char* at, std::int32_t v) {
  std::memcpy(at, &v, sizeof v);
}

bool has_atom_records(const kvtfile& kvtf) {
  return kvtf.natoms > 0 && kvtf.atoms.size() == static_cast<std::size_t>(kvtf.natoms);
}

void write_header(BlockWriter& out, const kvtfile& kvtf) {
  char header[kStreamHeaderBytes] = {};
  const std::string magic = fit_text(kvtf.magic, 4);
  const std::string title = fit_text(kvtf.title, kTitleLength);
  std::memcpy(header, magic.data(), 4);
  std::memcpy(header + 4, title.data(), kTitleLength);
  put_i32(header + 84, kvtf.natoms);
  put_i32(header + 88, kvtf.nframes);
  put_i32(header + 92, kvtf.nvecs);
  std::memcpy(header + 96, &kvtf.quality, sizeof(float));
  // bytes 100..111: three reserved words, 0; then the atom-record flag
  const bool records = has_atom_records(kvtf);
  put_i32(header + 112, records ? 1 : 0);
  out.put(std::span<const char>(header, kStreamHeaderBytes));
  if (records) out.put(std::span<const char>(kvt::encode_atom_records(kvtf.atoms)));
  out.put(std::span<const float>(kvtf.avg));
}

void write_vectors(BlockWriter& out, const kvtfile& kvtf) {
  const bool coded = kvtf.magic == "KVT6";
  const std::size_t n = kvtf.avg.size();
  const auto f = static_cast<std::size_t>(kvtf.nframes);
  std::vector<std::int16_t> codes = allocate_or_die<std::int16_t>(coded ? f : 0);
  for (std::size_t k = 0; k < static_cast<std::size_t>(kvtf.nvecs); ++k) {
    const std::span<const float> evec(kvtf.evecs.data() + k * n, n);
    const std::span<const float> proj(kvtf.proj.data() + k * f, f);
    out.put(evec);
    if (!coded) {
      out.put(std::span<const float>(&kvtf.evals[k], 1));
      out.put(proj);
      continue;
    }
    const kvt::CodeScale cs = kvt::encode_projections(proj, codes);
    const float scalars[3] = {kvtf.evals[k], cs.offset, cs.scale};
    out.put(std::span<const float>(scalars));
    out.put(std::span<const std::int16_t>(codes));
  }
}

void release_arrays(kvtfile& kvtf) {
  std::vector<float>().swap(kvtf.avg);
  std::vector<float>().swap(kvtf.evals);
  std::vector<float>().swap(kvtf.evecs);
  std::vector<float>().swap(kvtf.proj);
  std::vector<AtomRecord>().swap(kvtf.atoms);
}

}  // namespace

std::int32_t kvtclose(kvtfile& kvtf) {
  return kvtclose(kvtf, {});
}

std::int32_t kvtclose(kvtfile& kvtf, const std::function<bool(std::FILE*)>& append) {
  if (!kvt::arrays_match(kvtf)) die("kvtclose: the handle holds no arrays (closed?)");
  if (kvtf.quality > 0.0f) kvtf.quality = kvt::quality_percentage(kvtf.quality, kvtf.evals);
  auto file = ReplacingFile::create(kvtf.filename);
  if (!file) {
    die("kvtclose: cannot open " + kvtf.filename + " for writing: " + std::strerror(errno));
  }
  errno = 0;
  BlockWriter out(file->get());
  write_header(out, kvtf);
  write_vectors(out, kvtf);
  if (append && out.status() == 0 && !append(file->get())) out.fail();
  // A failed write is final: the file is then never committed (and its temporary goes with it).
  if (out.status() == 0 && !file->commit()) out.fail();
  kvtf.status = out.status();
  release_arrays(kvtf);
  return kvtf.status;
}

}  // namespace kvtraj
