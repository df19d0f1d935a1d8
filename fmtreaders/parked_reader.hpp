// Reuse of a closed reader: closing a DCD or binpos handle keeps its reader (one at a time), and
// a later open of the same, unchanged file as the same type takes it back, rewound before its
// first frame, instead of opening and checking the file again. Reading a trajectory backwards
// closes and reopens it for every backward step; this keeps that cheap. Everything the open
// reports (handle, type, messages, natoms) stays as a fresh open gives it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "fmtreaders/readers.hpp"

namespace kvtraj::readers {

// What tells one version of a file from another: device, inode, size, modification time.
struct FileStamp {
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t mtime_s = 0, mtime_ns = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of an existing file, or nothing when it does not exist.
std::optional<FileStamp> stamp_of(const std::string& path);

// The one reader kept from the last close. It is part of the handle table's state.
class ParkedReader {
 public:
  // Keeps `reader` (of a file of type code `type`) in place of any reader kept before.
  void park(std::unique_ptr<FrameReader> reader, const std::string& path, const FileStamp& stamp,
            std::int32_t type);
  // The kept reader when it reads `path` as it is now (same stamp), with a type code that a file
  // opened as `requested` (3 binpos, 5 DCD) can have, rewound; null otherwise. type receives its
  // code.
  std::unique_ptr<FrameReader> unpark(const std::string& path, const FileStamp& stamp,
                                      std::int32_t requested, std::int32_t& type);
  // Forgets the kept reader.
  void drop() { *this = ParkedReader{}; }

 private:
  std::unique_ptr<FrameReader> reader_;
  std::string path_;
  FileStamp stamp_;
  std::int32_t type_ = kTypeNone;
};

}  // namespace kvtraj::readers
