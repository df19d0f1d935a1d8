// KVT7 files read as trajectories: their coded frames, each coordinate within the file's maximum
// error of the frame that was compressed, with the same frame selections as any other file.
#include <array>
#include <cstdio>
#include <cstring>

#include "frames/coded_source.hpp"
#include "kvt_io/kvt_io.hpp"
#include "support/fatal.hpp"
#include "support/files.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj {
namespace {

constexpr std::int32_t kKvtUnit = 24;

// The file name and the selection of a name such as "run.kvt(1:100:2)".
struct Named {
  std::string path;
  std::string selection;
};
Named split_name(const std::string& name) {
  const auto open = name.rfind('(');
  if (open == std::string::npos || name.back() != ')') return {name, ""};
  return {name.substr(0, open), name.substr(open + 1, name.size() - open - 2)};
}

struct Range {
  std::int32_t first = 1, stride = 1, count = 0;
};
Range frame_range(const std::string& name, const std::string& selection, std::int32_t frames) {
  std::int32_t first = 1, last = 0, stride = 1, error = 0;
  if (!selection.empty()) xparse(selection, first, last, stride, error);
  if (error != 0) die(name + ": syntax error in the frame selection");
  if (last == 0) last = frames;
  if (first > frames || last > frames) {
    die(name + ": the selection goes beyond the file's " + std::to_string(frames) + " frames");
  }
  return {first, stride, (last - first) / stride + 1};
}

class CodedSource final : public FrameSource {
 public:
  CodedSource(const std::string& name, std::unique_ptr<kvtfile> kvtf, const Range& range)
      : FrameSource(name, kvtf->natoms, range.count),
        kvtf_(std::move(kvtf)),
        frames_(*kvtf_),
        range_(range) {}

  void read(std::int32_t i, std::span<float> coords) override {
    if (i < 1 || i > count()) die(name() + ": snapshot " + std::to_string(i) + " is not selected");
    frames_.read(range_.first + (i - 1) * range_.stride, coords);
  }
  bool has_box() const override { return false; }
  UnitCell cell() const override { return {}; }
  std::int32_t type_code() const override { return 0; }

 private:
  std::unique_ptr<kvtfile> kvtf_;  // kept at one address: frames_ refers to it
  kvtframes frames_;
  Range range_;
};

}  // namespace

bool is_coded_file(const std::string& name) {
  FilePtr f = open_file(split_name(name).path, "rb");
  std::array<char, 4> magic{};
  return f && read_exact(f.get(), magic.data(), magic.size()) &&
         std::memcmp(magic.data(), "KVT7", 4) == 0;
}

std::unique_ptr<FrameSource> open_coded_file(const std::string& name) {
  const Named named = split_name(name);
  auto kvtf = std::make_unique<kvtfile>(kvtopen(kKvtUnit, named.path));
  if (kvtf->status != 0) die(named.path + ": the KVT file is incomplete or unreadable");
  const Range range = frame_range(name, named.selection, kvtf->nframes);
  return std::make_unique<CodedSource>(name, std::move(kvtf), range);
}

}  // namespace kvtraj
