// Crafted trajectory files for reader tests, written byte by byte with the test Bytes builder
// (independently of the readers), and the reference coordinates of the committed fixtures.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/testsupport/testsupport.hpp"

namespace kvtraj::testing {

// Frame `frame` (from 1) of a pattern trajectory: atom a, axis k holds frame*1000 + a*10 + k,
// exact in 32-bit reals, so that every value tells where it came from.
inline std::vector<float> pattern_frame(int natoms, int frame) {
  std::vector<float> v(3 * static_cast<std::size_t>(natoms));
  for (int a = 0; a < natoms; ++a) {
    for (int k = 0; k < 3; ++k) v[3 * a + k] = static_cast<float>(frame * 1000 + a * 10 + k);
  }
  return v;
}

struct DcdLayout {
  int marker_bytes = 4;       // 4 or 8
  bool cell = false;          // unit-cell record per frame (flag in integer 11)
  std::int32_t version = 24;  // integer 20; 0 writes the time step as a 64-bit real
  std::int32_t fixed = 0;     // integer 9
  std::int32_t extra = 0;     // integer 12
  std::int32_t titles = 1;
};

inline void dcd_marker(Bytes& b, const DcdLayout& l, std::int64_t v) {
  if (l.marker_bytes == 8) {
    b.i64(v);
  } else {
    b.i32(static_cast<std::int32_t>(v));
  }
}

inline std::string dcd_header(std::int32_t natoms, const DcdLayout& l = {}) {
  Bytes b;
  dcd_marker(b, l, 84);
  b.raw("CORD");
  b.i32(0).i32(0).i32(1).i32(0).i32(0).i32(0).i32(0).i32(0);  // integers 1-8
  b.i32(l.fixed);                                             // 9
  if (l.version != 0) {
    b.f32(0.002f).i32(l.cell ? 1 : 0);  // 10, 11
  } else {
    b.f64(0.002);  // 10-11: the high word is non-zero and must not read as a cell flag
  }
  b.i32(l.extra);  // 12
  for (int i = 13; i <= 19; ++i) b.i32(0);
  b.i32(l.version);  // 20
  dcd_marker(b, l, 84);
  dcd_marker(b, l, 4 + 80 * l.titles);
  b.i32(l.titles);
  for (int t = 0; t < l.titles; ++t) b.text("REMARKS crafted", 80);
  dcd_marker(b, l, 4 + 80 * l.titles);
  dcd_marker(b, l, 4);
  b.i32(natoms);
  dcd_marker(b, l, 4);
  return b.str();
}

inline std::string dcd_frame(const std::vector<float>& coords, const DcdLayout& l = {},
                             std::array<double, 6> cell = {}) {
  Bytes b;
  if (l.cell) {
    dcd_marker(b, l, 48);
    for (double c : cell) b.f64(c);
    dcd_marker(b, l, 48);
  }
  const std::size_t n = coords.size() / 3;
  for (std::size_t k = 0; k < 3; ++k) {
    dcd_marker(b, l, static_cast<std::int64_t>(4 * n));
    for (std::size_t a = 0; a < n; ++a) b.f32(coords[3 * a + k]);
    dcd_marker(b, l, static_cast<std::int64_t>(4 * n));
  }
  return b.str();
}

// A DCD of `frames` pattern frames.
inline std::string pattern_dcd(int natoms, int frames, const DcdLayout& l = {}) {
  std::string out = dcd_header(natoms, l);
  for (int f = 1; f <= frames; ++f) {
    out += dcd_frame(pattern_frame(natoms, f), l, {10.0 * f, 0, 20.0 * f, 0, 0, 30.0 * f});
  }
  return out;
}

// A binpos of `frames` pattern frames, with box (f, 2f, 3f, 90, 90, 90) when asked.
inline std::string pattern_binpos(int natoms, int frames, bool box) {
  Bytes b;
  b.raw("fxyz");
  for (int f = 1; f <= frames; ++f) {
    b.i32(natoms);
    for (float v : pattern_frame(natoms, f)) b.f32(v);
    if (box) b.f32(1.0f * f).f32(2.0f * f).f32(3.0f * f).f32(90).f32(90).f32(90);
  }
  return b.str();
}

// AMBER formatted text of the given frames, "(10f8.3)", with `box_line` after each frame.
inline std::string amber_text(const std::vector<std::vector<float>>& frames,
                              const std::string& box_line = "") {
  std::string out = "crafted title\n";
  char field[32];
  for (const auto& frame : frames) {
    for (std::size_t i = 0; i < frame.size(); ++i) {
      std::snprintf(field, sizeof field, "%8.3f", static_cast<double>(frame[i]));
      out += field;
      if (i % 10 == 9 || i + 1 == frame.size()) out += '\n';
    }
    if (!box_line.empty()) out += box_line + "\n";
  }
  return out;
}

// TRR frames: XDR (big-endian) ints and reals, written here without the reader's code.
inline void xdr_int(Bytes& b, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.raw(std::string(1, static_cast<char>(v >> shift)));
}

inline void xdr_real(Bytes& b, double v, int real_bytes) {
  if (real_bytes == 4) {
    std::uint32_t bits = 0;
    const float f = static_cast<float>(v);
    std::memcpy(&bits, &f, 4);
    xdr_int(b, bits);
  } else {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, 8);
    xdr_int(b, static_cast<std::uint32_t>(bits >> 32));
    xdr_int(b, static_cast<std::uint32_t>(bits));
  }
}

struct TrrLayout {
  int real_bytes = 4;
  std::array<double, 9> box = {3, 0, 0, 0, 4, 0, 0, 0, 5};  // vectors in nm
  bool with_box = true;
  bool x = true, v = false, f = false;
  std::int32_t magic = 1993;
};

// A TRR frame of the pattern trajectory's frame `frame`, coordinates in nm (a tenth of the
// pattern's values), velocities and forces filled with the frame number.
inline std::string trr_frame(int natoms, int frame, const TrrLayout& l = {}) {
  const std::uint32_t vector = 3 * natoms * l.real_bytes;
  Bytes b;
  xdr_int(b, static_cast<std::uint32_t>(l.magic));
  xdr_int(b, 13);
  xdr_int(b, 12);
  b.raw("GMX_trn_file");
  const std::uint32_t sizes[] = {0,
                                 0,
                                 l.with_box ? 9u * l.real_bytes : 0u,
                                 0,
                                 0,
                                 0,
                                 0,
                                 l.x ? vector : 0,
                                 l.v ? vector : 0,
                                 l.f ? vector : 0};
  for (std::uint32_t size : sizes) xdr_int(b, size);
  xdr_int(b, static_cast<std::uint32_t>(natoms));
  xdr_int(b, static_cast<std::uint32_t>(frame));  // step
  xdr_int(b, 0);                                  // nre
  xdr_real(b, frame, l.real_bytes);               // time
  xdr_real(b, 0, l.real_bytes);                   // lambda
  if (l.with_box) {
    for (double c : l.box) xdr_real(b, c, l.real_bytes);
  }
  if (l.x) {
    for (float c : pattern_frame(natoms, frame)) xdr_real(b, c / 10.0, l.real_bytes);
  }
  for (int block = 0; block < l.v + l.f; ++block) {
    for (int i = 0; i < 3 * natoms; ++i) xdr_real(b, frame, l.real_bytes);
  }
  return b.str();
}

inline std::string pattern_trr(int natoms, int frames, const TrrLayout& l = {}) {
  std::string out;
  for (int f = 1; f <= frames; ++f) out += trr_frame(natoms, f, l);
  return out;
}

// Reals of a little-endian float32 reference file under tests/data.
inline std::vector<float> reference(const std::string& name) {
  const std::string raw = read_file(data_path(name));
  std::vector<float> v(raw.size() / 4);
  std::memcpy(v.data(), raw.data(), v.size() * 4);
  return v;
}

inline constexpr int kPeptideAtoms = 200;
inline constexpr int kPeptideFrames = 10;

}  // namespace kvtraj::testing
