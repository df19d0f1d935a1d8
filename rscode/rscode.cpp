#include "rscode/rscode.hpp"

#include <bit>
#include <cstdint>
#include <limits>

namespace kvtraj {
namespace {

constexpr char kFirstDigit = '!';
constexpr std::uint64_t kBase = 85;

}  // namespace

float stor(std::string_view code) {
  if (code.size() > kCodeLength) code = code.substr(0, kCodeLength);
  if (code.find_first_not_of(' ') == std::string_view::npos) return 0.0f;
  if (code.size() < kCodeLength) return std::numeric_limits<float>::quiet_NaN();
  std::uint64_t bits = 0;
  for (char c : code) {
    const int digit = static_cast<unsigned char>(c) - kFirstDigit;
    if (digit < 0 || digit >= static_cast<int>(kBase)) {
      return std::numeric_limits<float>::quiet_NaN();
    }
    bits = bits * kBase + static_cast<std::uint64_t>(digit);
  }
  if (bits > std::numeric_limits<std::uint32_t>::max()) {
    return std::numeric_limits<float>::quiet_NaN();
  }
  return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
}

std::array<char, kCodeLength> rtos(float value) {
  std::uint64_t bits = std::bit_cast<std::uint32_t>(value);
  std::array<char, kCodeLength> code{};
  for (std::size_t i = kCodeLength; i-- > 0;) {
    code[i] = static_cast<char>(kFirstDigit + bits % kBase);
    bits /= kBase;
  }
  return code;
}

}  // namespace kvtraj
