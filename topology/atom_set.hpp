// A set of the atoms of a system, one bit per atom: the value of each node of a selection's
// expression tree, so that "and", "or" and "not" combine 64 atoms per operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kvtraj::atomsel {

class AtomSet {
 public:
  explicit AtomSet(std::size_t natoms) : size_(natoms), words_((natoms + 63) / 64) {}

  // The atoms a < natoms for which keep(a) holds, filled a word at a time.
  template <class Keep>
  static AtomSet of(std::size_t natoms, Keep&& keep) {
    AtomSet set(natoms);
    for (std::size_t w = 0; w < set.words_.size(); ++w) {
      const std::size_t first = w * 64;
      const std::size_t count = natoms - first < 64 ? natoms - first : 64;
      std::uint64_t word = 0;
      for (std::size_t b = 0; b < count; ++b) word |= std::uint64_t{keep(first + b)} << b;
      set.words_[w] = word;
    }
    return set;
  }

  // Adds atoms [first, last).
  void insert_range(std::size_t first, std::size_t last);
  void insert(std::size_t atom) { words_[atom / 64] |= std::uint64_t{1} << (atom % 64); }
  AtomSet& operator&=(const AtomSet& other);
  AtomSet& operator|=(const AtomSet& other);
  void complement();
  // The members in ascending order.
  std::vector<std::int32_t> members() const;

 private:
  std::size_t size_ = 0;
  std::vector<std::uint64_t> words_;
};

}  // namespace kvtraj::atomsel
