// Tokens, frequency tables and the rANS coder.
#include "codec/entropy.hpp"

#include <algorithm>
#include <bit>

namespace kvtraj::codec {
namespace {

constexpr int kLevelBits = 6;
constexpr std::uint32_t kLow = 1u << 23;

// The weight of level c (1..63): 2^((c - 1) / 2) in steps of a factor of about 1.41, times 16.
std::uint64_t level_weight(int c) {
  return c % 2 == 1 ? std::uint64_t{16} << ((c - 1) / 2) : std::uint64_t{24} << ((c - 2) / 2);
}

// The level whose weight is nearest to 16 * count on a logarithmic scale: the next level is
// nearer while (16 count)^2 exceeds the product of the two weights (never equal, as weights
// are 2^k or 3 * 2^k). The products of weights are exact in double.
std::uint8_t level_of(std::uint32_t count) {
  if (count == 0) return 0;
  const double target = 256.0 * static_cast<double>(count) * static_cast<double>(count);
  int c = 1;
  while (c < 63 &&
         target > static_cast<double>(level_weight(c)) * static_cast<double>(level_weight(c + 1)))
    ++c;
  return static_cast<std::uint8_t>(c);
}

}  // namespace

std::array<std::uint16_t, kTokens> frequencies_from_levels(std::span<const std::uint8_t> levels) {
  std::array<std::uint64_t, kTokens> weight{};
  std::uint64_t total = 0;
  for (std::size_t s = 0; s < levels.size() && s < kTokens; ++s) {
    if (levels[s] != 0) weight[s] = level_weight(levels[s]);
    total += weight[s];
  }
  std::array<std::uint16_t, kTokens> freq{};
  if (total == 0) {
    freq[0] = kProbScale;
    return freq;
  }
  std::int64_t sum = 0;
  for (int s = 0; s < kTokens; ++s) {
    if (weight[s] == 0) continue;
    freq[s] =
        static_cast<std::uint16_t>(std::max<std::uint64_t>(1, weight[s] * kProbScale / total));
    sum += freq[s];
  }
  // Settle the rounding on the largest frequencies (the first of equals), one step at a time
  // when taking away, so that no present token drops below 1.
  while (sum != kProbScale) {
    const auto top =
        static_cast<std::size_t>(std::max_element(freq.begin(), freq.end()) - freq.begin());
    if (sum < kProbScale) {
      freq[top] = static_cast<std::uint16_t>(freq[top] + (kProbScale - sum));
      sum = kProbScale;
    } else {
      const std::int64_t take = std::min<std::int64_t>(freq[top] - 1, sum - kProbScale);
      freq[top] = static_cast<std::uint16_t>(freq[top] - take);
      sum -= take;
    }
  }
  return freq;
}

namespace {

// A token's coding step without a division: x / freq is a multiply by a reciprocal rounded up
// and a shift, exact for every state below 2^31 (the largest a step sees: x < 2^19 * freq), and
// the step adds start + (x / freq) * (kProbScale - freq) to x, which is
// (x / freq) * kProbScale + x % freq + start. Frequency 1 takes q = x - 1 and a bias one scale
// higher to the same end.
struct EncodeStep {
  std::uint32_t limit = 0;  // renormalise while the state reaches it
  std::uint32_t reciprocal = 0;
  std::uint32_t bias = 0;
  std::uint32_t complement = 0;
  std::uint32_t shift = 0;
};

EncodeStep encode_step(std::uint32_t start, std::uint32_t freq) {
  EncodeStep e;
  e.limit = ((kLow >> kProbBits) << 8) * freq;
  e.complement = kProbScale - freq;
  if (freq < 2) {
    e.reciprocal = ~0u;
    e.bias = start + kProbScale - 1;
    return e;
  }
  const auto bits = static_cast<std::uint32_t>(std::bit_width(freq - 1));  // 2^bits >= freq
  e.reciprocal = static_cast<std::uint32_t>(((std::uint64_t{1} << (bits + 31)) + freq - 1) / freq);
  e.shift = bits - 1;
  e.bias = start;
  return e;
}

// Per context the steps of its tokens, from the frequencies its table gives.
void add_steps(std::span<const std::uint16_t, kTokens> freq, std::vector<EncodeStep>& steps) {
  std::uint32_t at = 0;
  for (const std::uint16_t f : freq) {
    steps.push_back(f == 0 ? EncodeStep{} : encode_step(at, f));
    at += f;
  }
}

// rANS runs backwards over the symbols, its bytes written from the end of the buffer down so
// that decoding reads forward. A state below 2^31 needs at most two bytes to fall below a
// limit of at least 2^19: two conditional steps, without a loop whose length follows the data.
std::vector<std::uint8_t> rans(std::span<const std::uint16_t> symbols,
                               std::span<const EncodeStep> steps) {
  std::vector<std::uint8_t> stream(2 * symbols.size() + 8);
  std::size_t at = stream.size();
  std::uint32_t state[2] = {kLow, kLow};
  for (std::size_t i = symbols.size(); i-- > 0;) {
    std::uint32_t x = state[i & 1];
    const EncodeStep& e = steps[symbols[i]];
    for (int k = 0; k < 2; ++k) {
      const std::uint32_t out = x >= e.limit ? 1 : 0;
      stream[at - 1] = static_cast<std::uint8_t>(x);  // kept only when out
      at -= out;
      x >>= 8 * out;
    }
    const auto q = static_cast<std::uint32_t>((std::uint64_t{x} * e.reciprocal) >> 32) >> e.shift;
    state[i & 1] = x + e.bias + q * e.complement;
  }
  // The decoder reads state 0, then state 1, each little-endian.
  for (int k = 1; k >= 0; --k) {
    for (int shift = 24; shift >= 0; shift -= 8)
      stream[--at] = static_cast<std::uint8_t>(state[k] >> shift);
  }
  stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(at));
  return stream;
}

// How often each symbol (context * kTokens + token) occurs: counted into two tables in turn, so
// that runs of one symbol do not wait on their own increments.
std::vector<std::uint32_t> symbol_counts(std::span<const std::uint16_t> symbols,
                                         std::size_t contexts) {
  const std::size_t size = contexts * kTokens;
  std::vector<std::uint32_t> counts(2 * size, 0);
  std::size_t i = 0;
  for (; i + 2 <= symbols.size(); i += 2) {
    ++counts[symbols[i]];
    ++counts[size + symbols[i + 1]];
  }
  if (i < symbols.size()) ++counts[symbols[i]];
  for (std::size_t s = 0; s < size; ++s) counts[s] += counts[size + s];
  counts.resize(size);
  return counts;
}

}  // namespace

void ContextEncoder::finish(ByteWriter& out) {
  const std::vector<std::uint32_t> counts = symbol_counts(symbols_, contexts_);
  // Tables: per context the count of levels that follow (8 bits), then 6 bits per level.
  BitWriter table_bits;
  std::vector<EncodeStep> steps;
  steps.reserve(counts.size());
  for (std::size_t c = 0; c < contexts_; ++c) {
    std::array<std::uint8_t, kTokens> levels{};
    int used = 0;
    for (int s = 0; s < kTokens; ++s) {
      levels[s] = level_of(counts[c * kTokens + static_cast<std::size_t>(s)]);
      if (levels[s] != 0) used = s + 1;
    }
    table_bits.put(static_cast<std::uint64_t>(used), 8);
    for (int s = 0; s < used; ++s) table_bits.put(levels[s], kLevelBits);
    add_steps(frequencies_from_levels(std::span(levels).first(used)), steps);
  }
  out.put_sized(table_bits.finish());
  out.put_sized(rans(symbols_, steps));
  out.put_sized(extra_.finish());
}

ContextDecoder::ContextDecoder(ByteReader& in, int contexts)
    : tables_(static_cast<std::size_t>(contexts)) {
  BitReader table_bits(in.get_sized());
  for (Table& t : tables_) {
    const auto used = static_cast<std::size_t>(table_bits.get(8));
    if (used > kTokens) in.damaged("a frequency table is too long");
    std::array<std::uint8_t, kTokens> levels{};
    for (std::size_t s = 0; s < used; ++s)
      levels[s] = static_cast<std::uint8_t>(table_bits.get(kLevelBits));
    const auto freq = frequencies_from_levels(std::span(levels).first(used));
    std::uint32_t at = 0;
    for (std::size_t s = 0; s < kTokens; ++s) {
      t.start[s] = static_cast<std::uint16_t>(at);
      // Buckets whose first slot falls in this token's range.
      for (std::uint32_t b = (at + (1u << kBucketBits) - 1) >> kBucketBits;
           (b << kBucketBits) < at + freq[s]; ++b)
        t.bucket[b] = static_cast<std::uint8_t>(s);
      at += freq[s];
    }
    t.start[kTokens] = static_cast<std::uint16_t>(at);
  }
  if (table_bits.overran()) in.damaged("the frequency tables end early");
  const auto stream = in.get_sized();
  if (stream.size() < 8) in.damaged("the coded stream is too short");
  for (int k = 0; k < 2; ++k) {
    std::uint32_t x = 0;
    for (int i = 0; i < 4; ++i) x |= static_cast<std::uint32_t>(stream[4 * k + i]) << (8 * i);
    if (x < kLow) in.damaged("the coder's state is out of range");
  }
  cursor_ = Cursor(stream, in.get_sized());
}

}  // namespace kvtraj::codec
