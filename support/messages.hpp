// The message sink: every text the modules write on their own (a reader announcing a file type,
// a warning that a selection was cut, the line before a fatal exit) passes through one
// replaceable function together with its kind and the stream it goes to by default. Programs
// and embedding hosts (the Python package, tests) install a sink to route, filter or capture the
// texts; with none installed each text is written, with a line break, on its default stream.
//
// Threads: emitting is safe from any thread as long as the sink itself is; installing a sink
// must not race with emitting (install it before starting work).
#pragma once

#include <cstdio>
#include <functional>
#include <string_view>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

enum class MessageKind {
  info,     // progress of the modules: "file type is dcd", "Attempting to open dcd file"
  warning,  // the work goes on, changed: "Warning: NAME only contains 10 frames"
  error,    // an operation failed and says why; the caller sees a failure status
  fatal,    // the line written before a fatal exit (see fatal.hpp)
};

struct Message {
  MessageKind kind = MessageKind::info;
  std::string_view text;        // one line, without its line break
  std::FILE* stream = nullptr;  // where the default sink writes it
};

using MessageSink = std::function<void(const Message&)>;

// Installs `sink` (an empty one restores the default) and returns the previous one.
MessageSink set_message_sink(MessageSink sink);

// Passes `text` to the sink.
void emit(MessageKind kind, std::string_view text, std::FILE* stream = stdout);
// The same with the text formatted as by printf (a line break at its end is dropped).
[[gnu::format(printf, 2, 3)]] void emitf(MessageKind kind, const char* format, ...);
inline void inform(std::string_view text) {
  emit(MessageKind::info, text);
}
inline void warn(std::string_view text) {
  emit(MessageKind::warning, text);
}
inline void report_error(std::string_view text) {
  emit(MessageKind::error, text);
}

// The default: `text` and a line break on `stream`.
void write_to_stream(const Message& message);

// While it lives, a sink in front of the current one: handle(message, next) sees every text and
// passes on what it does not keep, as it is or changed, with next (the sink it stands in front
// of, which is put back at the end).
class SinkInFront {
 public:
  using Handler = std::function<void(const Message& message, const MessageSink& next)>;
  explicit SinkInFront(Handler handle);
  ~SinkInFront();
  SinkInFront(const SinkInFront&) = delete;
  SinkInFront& operator=(const SinkInFront&) = delete;

 private:
  Handler handle_;
  MessageSink next_;
};

}  // namespace kvtraj

#pragma GCC visibility pop
