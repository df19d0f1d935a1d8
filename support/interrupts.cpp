#include "support/interrupts.hpp"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstring>

namespace kvtraj {
namespace {

// Fixed storage: the handler may only read memory that no allocation can move.
constexpr int kSlots = 32;
constexpr std::size_t kPathBytes = 4096;
enum SlotState : int { kFree, kFilling, kHeld };

struct Slot {
  std::atomic<int> state{kFree};
  char path[kPathBytes] = {};
};

std::array<Slot, kSlots> slots;
char prefix[64] = "kvtraj";
constexpr int kNotSettled = -1;
std::atomic<int> settled_status{kNotSettled};

const char* signal_name(int sig) {
  switch (sig) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "SIGHUP";
  }
}

void put(const char* text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;  // nothing is left to do if standard error is gone
}

// Only async-signal-safe calls: unlink, write, _exit.
void on_signal(int sig) {
  remove_temporaries();
  const int settled = settled_status.load();
  if (settled != kNotSettled) ::_exit(settled);
  put(prefix);
  put(": interrupted by ");
  put(signal_name(sig));
  put("\n");
  ::_exit(128 + sig);
}

}  // namespace

void stop_on_signals(const char* program) {
  std::strncpy(prefix, program, sizeof prefix - 1);
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigfillset(&action.sa_mask);  // one handler at a time
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

void end_quietly_on_signals(int status) {
  settled_status.store(status);
}

int remember_temporary(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    Slot& s = slots[static_cast<std::size_t>(i)];
    if (!s.state.compare_exchange_strong(expected, kFilling)) continue;
    std::memcpy(s.path, path.c_str(), path.size() + 1);
    s.state.store(kHeld);
    return i;
  }
  return -1;
}

void remove_temporaries() {
  for (Slot& s : slots) {
    if (s.state.load() == kHeld) ::unlink(s.path);
  }
}

void forget_temporary(int slot) {
  if (slot >= 0 && slot < kSlots) slots[static_cast<std::size_t>(slot)].state.store(kFree);
}

}  // namespace kvtraj
