// Test helpers: a private temporary directory, whole-file reads and writes, a builder of
// little-endian binary files written independently of the readers under test, and a check that a
// statement ends in a given fatal condition, run in the test's own process.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gmock/gmock.h>

namespace kvtraj::testing {

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& root() const { return root_; }
  std::string path(std::string_view name) const { return root_ + "/" + std::string(name); }

 private:
  std::string root_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view bytes);

// Path of a committed fixture under tests/data.
inline std::string data_path(std::string_view name) {
  return std::string(KVTRAJ_TEST_DATA) + "/" + std::string(name);
}

// Appends values in little-endian byte order.
class Bytes {
 public:
  template <class T>
  Bytes& put(T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    data_.append(raw, sizeof(T));
    return *this;
  }
  Bytes& i32(std::int32_t v) { return put(v); }
  Bytes& i64(std::int64_t v) { return put(v); }
  Bytes& i16(std::int16_t v) { return put(v); }
  Bytes& f32(float v) { return put(v); }
  Bytes& f64(double v) { return put(v); }
  // `text` cut or blank-padded to `length` bytes.
  Bytes& text(std::string_view text, std::size_t length) {
    std::string t(text.substr(0, length));
    t.resize(length, ' ');
    data_ += t;
    return *this;
  }
  Bytes& raw(std::string_view bytes) {
    data_ += bytes;
    return *this;
  }
  const std::string& str() const { return data_; }
  std::size_t size() const { return data_.size(); }

 private:
  std::string data_;
};

// Runs `program` with `args` (and `input` on standard input) as a user would, and returns its
// exit status (or 128 + the signal that ended it) with what it wrote on each stream. A
// `file_size_limit` (bytes) makes every write beyond it fail, as on a full disk.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};
RunResult run_program(const std::string& program, const std::vector<std::string>& args,
                      std::string_view input = {}, long file_size_limit = -1);

}  // namespace kvtraj::testing

// Runs `statement` with fatal conditions turned into exceptions and the modules' texts captured:
// it must end in a fatal condition with status 1, and everything the modules wrote on the way
// (each text with its line break, the fatal line last) must match `regex`.
#define KVTRAJ_EXPECT_FATAL(statement, regex)                           \
  do {                                                                  \
    const ::kvtraj::testing::FatalOutcome fatal_outcome_ =              \
        ::kvtraj::testing::catch_fatal([&] { statement; });             \
    EXPECT_TRUE(fatal_outcome_.raised) << #statement " returned";       \
    EXPECT_EQ(fatal_outcome_.status, 1);                                \
    EXPECT_THAT(fatal_outcome_.texts, ::testing::ContainsRegex(regex)); \
  } while (false)

namespace kvtraj::testing {

struct FatalOutcome {
  bool raised = false;
  int status = 0;
  std::string texts;  // every text the modules emitted, one per line
};
FatalOutcome catch_fatal(const std::function<void()>& statement);

}  // namespace kvtraj::testing
