#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "apps/kvt/kvt_app.hpp"

namespace kvtraj::app {
namespace {

double now_seconds() {
  using clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(clock::now().time_since_epoch()).count();
}

constexpr double kRedrawSeconds = 0.2;

}  // namespace

Progress::Progress(bool enabled) : enabled_(enabled && isatty(STDERR_FILENO) != 0) {}

Progress::~Progress() {
  end();
}

void Progress::begin(std::string_view step, std::int64_t total) {
  end();
  step_ = std::string(step);
  total_ = total;
  open_ = enabled_;
  started_ = now_seconds();
  last_draw_ = 0.0;
  draw(0);
}

void Progress::update(std::int64_t done) {
  if (open_ && now_seconds() - last_draw_ >= kRedrawSeconds) draw(done);
}

void Progress::end() {
  if (!open_) return;
  draw(total_);
  std::fputc('\n', stderr);
  open_ = false;
}

pca::ProgressFn Progress::callback() {
  return [this](const pca::ProgressEvent& e) {
    // Nothing to draw, nothing to allocate: the last event comes after the output is committed.
    if (!enabled_) return;
    if (!open_ || step_ != e.pass) begin(e.pass, e.total);
    if (e.finished) {
      end();
    } else {
      update(e.done);
    }
  };
}

void Progress::draw(std::int64_t done) {
  if (!open_) return;
  last_draw_ = now_seconds();
  if (total_ > 0) {
    const double elapsed = last_draw_ - started_;
    const double rate = elapsed > 0.0 ? static_cast<double>(done) / elapsed : 0.0;
    std::fprintf(stderr, "\r  %s: %lld/%lld (%.0f %%)", step_.c_str(), static_cast<long long>(done),
                 static_cast<long long>(total_),
                 100.0 * static_cast<double>(done) / static_cast<double>(total_));
    if (rate > 0.0) {
      std::fprintf(stderr, ", %.0f/s, %.0f s left   ", rate,
                   static_cast<double>(total_ - done) / rate);
    }
  } else {
    std::fprintf(stderr, "\r  %s...", step_.c_str());
  }
  std::fflush(stderr);
}

}  // namespace kvtraj::app
