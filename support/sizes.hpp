// Size arithmetic on untrusted counts: products and sums that report overflow instead of
// wrapping, so that nothing is allocated from a count that a file made up.
#pragma once

#include <cstdint>
#include <optional>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

// a * b, or nothing when the product does not fit in 64 bits (or either factor is negative).
std::optional<std::uint64_t> checked_mul(std::int64_t a, std::int64_t b);
// a + b under the same rule.
std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b);

}  // namespace kvtraj

#pragma GCC visibility pop
