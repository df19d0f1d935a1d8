// Test helpers: a private temporary directory, whole-file reads and writes, a builder of
// little-endian binary files written independently of the readers under test, and a death-test
// macro for fatal messages that go to standard output.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

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

// A death test whose expected output is printed on standard output: the child sends standard
// output to standard error, where the death-test machinery matches it against `regex`, and must
// end with exit status 1.
#define KVTRAJ_EXPECT_FATAL(statement, regex)  \
  EXPECT_EXIT(                                 \
      {                                        \
        ::kvtraj::testing::stdout_to_stderr(); \
        statement;                             \
      },                                       \
      ::testing::ExitedWithCode(1), regex)

namespace kvtraj::testing {
void stdout_to_stderr();
}
