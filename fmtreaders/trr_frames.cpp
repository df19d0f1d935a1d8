// TRR frames with their stamps, for files that are not trajectories: every frame is delivered
// (with or without coordinates), in file order, its coordinates in nm as stored.
#include "fmtreaders/fmtreaders.hpp"
#include "fmtreaders/readers.hpp"
#include "fmtreaders/trr_header.hpp"

namespace kvtraj {

struct TrrFrames::State {
  readers::BinaryFile file;
  int real_bytes = 0;
  std::vector<char> block;
};

TrrFrames::TrrFrames(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrrFrames::~TrrFrames() = default;

std::unique_ptr<TrrFrames> TrrFrames::open(const std::string& path) {
  auto file = readers::BinaryFile::open(path);
  if (!file) {
    readers::refuse("Error - can't open trr file");
    return nullptr;
  }
  readers::TrrHeader h;
  if (readers::read_trr_header(*file, 0, h) != kIoOk) {
    readers::refuse(readers::wrong_trr_magic(*file) ? "Error - no magic number in trr file"
                                                    : "Error - bad header in trr file");
    return nullptr;
  }
  file->seek(0);
  auto state = std::make_unique<State>(State{std::move(*file), h.real_bytes, {}});
  return std::unique_ptr<TrrFrames>(new TrrFrames(std::move(state)));
}

int TrrFrames::next(TrrFrame& frame) {
  readers::BinaryFile& file = state_->file;
  readers::TrrHeader h;
  if (const int status = readers::read_trr_header(file, state_->real_bytes, h); status != kIoOk) {
    return status;
  }
  const char* p = nullptr;
  if (file.read_block(state_->block, h.data_bytes(), p) != kIoOk) return kIoBadData;
  frame.step = h.step;
  frame.time = h.time;
  frame.lambda = h.lambda;
  frame.natoms = h.natoms;
  frame.x.resize(h.x / static_cast<std::uint64_t>(h.real_bytes));
  readers::decode_reals(p + h.box + h.vir + h.pres, h.real_bytes, frame.x.size(), 1.0, frame.x);
  return kIoOk;
}

}  // namespace kvtraj
