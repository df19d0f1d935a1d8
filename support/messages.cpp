#include "support/messages.hpp"

#include <algorithm>
#include <cstdarg>
#include <string>
#include <utility>

namespace kvtraj {
namespace {

MessageSink& current_sink() {
  static MessageSink sink = write_to_stream;
  return sink;
}

}  // namespace

MessageSink set_message_sink(MessageSink sink) {
  MessageSink previous = std::exchange(current_sink(), sink ? std::move(sink) : write_to_stream);
  return previous;
}

void emit(MessageKind kind, std::string_view text, std::FILE* stream) {
  current_sink()(Message{kind, text, stream});
}

void emitf(MessageKind kind, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::max(std::vsnprintf(nullptr, 0, format, args), 0);
  va_end(args);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, again);
  va_end(again);
  text.resize(static_cast<std::size_t>(length));
  if (!text.empty() && text.back() == '\n') text.pop_back();
  emit(kind, text);
}

void write_to_stream(const Message& message) {
  std::FILE* stream = message.stream ? message.stream : stdout;
  std::fwrite(message.text.data(), 1, message.text.size(), stream);
  std::fputc('\n', stream);
}

SinkInFront::SinkInFront(Handler handle)
    : handle_(std::move(handle)),
      next_(set_message_sink([this](const Message& m) { handle_(m, next_); })) {}

SinkInFront::~SinkInFront() {
  set_message_sink(std::move(next_));
}

}  // namespace kvtraj
