#include "topology/atom_set.hpp"

#include <bit>

namespace kvtraj::atomsel {

void AtomSet::insert_range(std::size_t first, std::size_t last) {
  for (std::size_t a = first; a < last && a % 64 != 0; ++a) insert(a);
  std::size_t a = first % 64 == 0 ? first : (first / 64 + 1) * 64;
  for (; a + 64 <= last; a += 64) words_[a / 64] = ~std::uint64_t{0};
  for (; a < last; ++a) insert(a);
}

AtomSet& AtomSet::operator&=(const AtomSet& other) {
  for (std::size_t w = 0; w < words_.size(); ++w) words_[w] &= other.words_[w];
  return *this;
}

AtomSet& AtomSet::operator|=(const AtomSet& other) {
  for (std::size_t w = 0; w < words_.size(); ++w) words_[w] |= other.words_[w];
  return *this;
}

void AtomSet::complement() {
  for (std::uint64_t& word : words_) word = ~word;
  // Bits past the last atom stay clear.
  if (size_ % 64 != 0) words_.back() &= (std::uint64_t{1} << (size_ % 64)) - 1;
}

std::vector<std::int32_t> AtomSet::members() const {
  std::size_t count = 0;
  for (const std::uint64_t word : words_) count += static_cast<std::size_t>(std::popcount(word));
  std::vector<std::int32_t> out;
  out.reserve(count);
  for (std::size_t w = 0; w < words_.size(); ++w) {
    for (std::uint64_t word = words_[w]; word != 0; word &= word - 1) {
      out.push_back(static_cast<std::int32_t>(w * 64 + std::countr_zero(word)));
    }
  }
  return out;
}

}  // namespace kvtraj::atomsel
