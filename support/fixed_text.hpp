// Blank-padded fixed-length text: file names (160 characters) and titles (80) live without
// their trailing blanks and are cut or padded only where they meet a file; comparisons ignore
// trailing blanks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#pragma GCC visibility push(default)  // the installed interface, exported by shared builds

namespace kvtraj {

inline constexpr std::size_t kNameLength = 160;  // file names
inline constexpr std::size_t kTitleLength = 80;  // titles

// `text` without its trailing blanks.
std::string_view trim_right(std::string_view text);

// `text` cut or blank-padded to exactly `length` characters.
std::string fit_text(std::string_view text, std::size_t length);

// Equality of two fixed-length texts: the shorter is taken as padded with blanks.
bool same_text(std::string_view a, std::string_view b);

}  // namespace kvtraj

#pragma GCC visibility pop
