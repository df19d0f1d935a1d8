// KVT7 files as a FrameSource: the frames as coded (within the file's maximum error), so that
// convert, compress and the Python inputs read them like any trajectory. Damage is fatal.
#pragma once

#include <memory>
#include <string>

#include "frames/frames.hpp"

namespace kvtraj {

// Whether the file of `name` (an optional frame selection aside) starts with the KVT7 magic.
bool is_coded_file(const std::string& name);
// Opens it; the selection ("f:l:s") picks frames as for other formats.
std::unique_ptr<FrameSource> open_coded_file(const std::string& name);

}  // namespace kvtraj
