#include "support/fixed_text.hpp"

namespace kvtraj {

std::string_view trim_right(std::string_view text) {
  const auto last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string fit_text(std::string_view text, std::size_t length) {
  std::string out(text.substr(0, length));
  out.resize(length, ' ');
  return out;
}

bool same_text(std::string_view a, std::string_view b) {
  return trim_right(a) == trim_right(b);
}

}  // namespace kvtraj
