#include "support/messages.hpp"

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

void write_to_stream(const Message& message) {
  std::FILE* stream = message.stream ? message.stream : stdout;
  std::fwrite(message.text.data(), 1, message.text.size(), stream);
  std::fputc('\n', stream);
}

}  // namespace kvtraj
