// Records of a text file and Fortran-style formatted READ statements over them.
#include <cctype>
#include <cstring>

#include "support/files.hpp"
#include "support/fixed_text.hpp"
#include "support/fortran_input.hpp"

namespace kvtraj {
namespace {

constexpr std::size_t kBlockSize = 1 << 20;

int read_number(std::string_view text, std::size_t& pos) {
  int n = 0;
  bool any = false;
  while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
    n = n * 10 + (text[pos++] - '0');
    any = true;
    if (n > 100000) throw std::invalid_argument("format number too large");
  }
  return any ? n : -1;
}

}  // namespace

Format::Format(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (c != ' ') compact.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  if (compact.size() < 2 || compact.front() != '(' || compact.back() != ')') {
    throw std::invalid_argument("format must be parenthesised: " + std::string(text));
  }
  const std::string_view body = std::string_view(compact).substr(1, compact.size() - 2);
  std::size_t pos = 0;
  while (pos < body.size()) {
    const int repeat_read = read_number(body, pos);
    const int repeat = repeat_read < 0 ? 1 : repeat_read;
    if (pos >= body.size()) throw std::invalid_argument("format item without descriptor");
    EditDescriptor d;
    d.kind = body[pos++];
    if (d.kind != 'F' && d.kind != 'I' && d.kind != 'A') {
      throw std::invalid_argument("unsupported edit descriptor in " + std::string(text));
    }
    d.width = read_number(body, pos);
    if (d.width < 1) throw std::invalid_argument("edit descriptor without width");
    if (pos < body.size() && body[pos] == '.') {
      ++pos;
      d.decimals = read_number(body, pos);
      if (d.decimals < 0) throw std::invalid_argument("edit descriptor without decimals");
    }
    if (repeat < 1) throw std::invalid_argument("zero repeat count");
    items_.insert(items_.end(), static_cast<std::size_t>(repeat), d);
    if (pos < body.size() && body[pos++] != ',') {
      throw std::invalid_argument("format items must be separated by commas");
    }
  }
  if (items_.empty()) throw std::invalid_argument("empty format");
}

RecordReader::RecordReader(FilePtr file) : file_(std::move(file)), buffer_(kBlockSize) {}

std::unique_ptr<RecordReader> RecordReader::over(std::span<const char> bytes) {
  auto reader = std::make_unique<RecordReader>(nullptr);
  reader->buffer_.assign(bytes.begin(), bytes.end());
  reader->end_ = bytes.size();
  reader->eof_ = true;  // nothing is left to read once the buffer is used up
  return reader;
}

std::unique_ptr<RecordReader> RecordReader::open(const std::string& path) {
  FilePtr f = open_file(path, "rb");
  if (!f) return nullptr;
  return std::make_unique<RecordReader>(std::move(f));
}

bool RecordReader::refill() {
  if (eof_) return false;
  begin_ = 0;
  end_ = std::fread(buffer_.data(), 1, buffer_.size(), file_.get());
  if (end_ < buffer_.size()) eof_ = true;
  return end_ > 0;
}

int RecordReader::next(std::string_view& record) {
  carry_.clear();
  bool partial = false;
  for (;;) {
    if (begin_ == end_ && !refill()) {
      if (file_ && std::ferror(file_.get())) return kIoReadError;
      if (!partial) return kIoEnd;
      break;  // the last record has no line break
    }
    const char* start = buffer_.data() + begin_;
    const void* nl = std::memchr(start, '\n', end_ - begin_);
    if (nl) {
      const std::size_t len = static_cast<const char*>(nl) - start;
      begin_ += len + 1;
      if (!partial) {
        record = std::string_view(start, len);
        if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
        return kIoOk;
      }
      carry_.append(start, len);
      break;
    }
    carry_.append(start, end_ - begin_);
    begin_ = end_;
    partial = true;
  }
  record = carry_;
  if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
  return kIoOk;
}

void FormattedReader::start(const Format& format) {
  format_ = format;
  item_ = 0;
  column_ = 0;
  need_record_ = true;
}

int FormattedReader::field(char kind, std::string_view& text, EditDescriptor& descriptor) {
  if (!format_) return kIoBadData;
  const auto& items = format_->items();
  if (item_ == items.size()) {  // format exhausted: it starts again on a new record
    item_ = 0;
    need_record_ = true;
  }
  if (need_record_) {
    const int status = records_.next(record_);
    if (status != kIoOk) return status;
    need_record_ = false;
    column_ = 0;
  }
  const EditDescriptor& d = items[item_++];
  if (d.kind != kind) return kIoBadData;
  const auto width = static_cast<std::size_t>(d.width);
  text = column_ < record_.size() ? record_.substr(column_, width) : std::string_view{};
  column_ += width;
  descriptor = d;
  return kIoOk;
}

int FormattedReader::real(float& value) {
  std::string_view text;
  EditDescriptor d;
  const int status = field('F', text, d);
  return status != kIoOk ? status : read_f_field(text, d.decimals, value);
}

int FormattedReader::integer(std::int32_t& value) {
  std::string_view text;
  EditDescriptor d;
  const int status = field('I', text, d);
  return status != kIoOk ? status : read_i_field(text, value);
}

int FormattedReader::text(std::string& value) {
  std::string_view text;
  EditDescriptor d;
  const int status = field('A', text, d);
  if (status != kIoOk) return status;
  value = fit_text(text, static_cast<std::size_t>(d.width));
  return kIoOk;
}

int FormattedReader::reals(const Format& format, std::span<float> values) {
  start(format);
  for (float& v : values) {
    const int status = real(v);
    if (status != kIoOk) return status;
  }
  return kIoOk;
}

int FormattedReader::line(std::size_t length, std::string& value) {
  format_.reset();
  need_record_ = true;
  std::string_view record;
  const int status = records_.next(record);
  if (status != kIoOk) return status;
  value = std::string(trim_right(record.substr(0, length)));
  return kIoOk;
}

}  // namespace kvtraj
