#include "frames/frames.hpp"

namespace kvtraj {

void InputFrames::read(std::int64_t first, std::int64_t count, std::span<float> out) {
  const auto n = static_cast<std::size_t>(3) * input_.natoms();
  for (std::int64_t f = 0; f < count; ++f) {
    input_.read(static_cast<std::int32_t>(first + f + 1),
                out.subspan(static_cast<std::size_t>(f) * n, n));
  }
}

std::unique_ptr<pca::FrameReader> InputFrames::another() const {
  std::unique_ptr<Input> other = input_.another();
  if (!other) return nullptr;
  return std::make_unique<InputFrames>(std::move(other));
}

std::string InputFrames::fingerprint() const {
  return pca::file_fingerprint(input_.name());
}

}  // namespace kvtraj
