// Blocks: the walk over a block's frames that encoder and decoder share, the block's header,
// stored transforms and checksum, and the encoder's choice of mode and its verification.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "codec/bytes.hpp"
#include "codec/entropy.hpp"
#include "codec/images.hpp"
#include "codec/predict.hpp"
#include "support/fatal.hpp"

namespace kvtraj::codec {
namespace {

constexpr double kRotScale = 1048576.0;
constexpr double kTransScale = 256.0;
constexpr std::int64_t kRotLimit = 2097152;
constexpr std::int64_t kTransLimit = 16777216;

struct Layout {
  Mode mode = Mode::time;
  int shift = 0;
  double step = 1.0;
  Images images;
};

// More contexts when atoms code their jumps: for atoms inside the box and next to each face,
// after an atom of the frame that kept its image and after one that jumped (a molecule written
// whole jumps as a whole).
constexpr int kImageContext = kContexts;
constexpr int kImageContexts = 2 * Faces::kFaces;
int image_context(int face, bool after_jump) {
  return kImageContext + 2 * face + (after_jump ? 1 : 0);
}
int contexts(const Layout& layout) {
  return kContexts + (layout.images.count() != 0 ? kImageContexts : 0);
}

// One coordinate's terms in a block, as positions in the residual array of walk (previous
// frame first, then the current one) and weights; unused terms have weight 0 and point at a
// valid position, so that every coordinate sums three products without a branch.
struct Recipe {
  // Coordinates back to the held atom's anchors, 0 when not held (the second: with one anchor).
  std::array<std::size_t, 2> anchor{0, 0};
  std::array<std::uint32_t, kMaxRefs> at{};
  std::array<std::int32_t, kMaxRefs> weight{};
};

std::vector<Recipe> recipes(const Plan& plan, bool pca, std::size_t n) {
  std::vector<Recipe> out(n);
  const int table = pca ? 1 : 0;
  for (std::size_t i = 0; i < n; ++i) {
    const AtomPlan& ap = plan.atoms[i / 3];
    Recipe& r = out[i];
    if (ap.held[table]) r.anchor = {3 * std::size_t{ap.anchor}, 3 * std::size_t{ap.second}};
    r.at.fill(static_cast<std::uint32_t>(i));
    for (int k = 0; k < ap.nrefs[table]; ++k) {
      const Ref ref = ap.refs[table][k];
      r.at[k] =
          static_cast<std::uint32_t>(ref.source == 0 ? i : n + i - 3 * std::size_t{ref.source});
      r.weight[k] = ref.weight;
    }
  }
  return out;
}

// Decodes (or codes) the coordinates of held atom `a` of a frame at `at`: those left free in
// order, then those its distances predict.
template <class Side>
void hold(const std::array<std::size_t, 2>& anchor, std::size_t a, std::size_t at,
          const std::array<std::int64_t, 3>& predicted, const std::array<int, 3>& ctx,
          const std::vector<std::int64_t>& q_prev, std::vector<std::int64_t>& q_cur, Side& side) {
  Held h{&q_prev[a],
         &q_cur[a],
         predicted.data(),
         {&q_prev[a - anchor[0]], nullptr},
         {&q_cur[a - anchor[0]], nullptr}};
  if (anchor[1] == 0) {
    const int k = held_coordinate(h);
    for (const int c : others(k)) q_cur[a + c] = side.value(ctx[c], predicted[c], at + a + c);
    q_cur[a + k] = side.value(kHeldContext, held_value(h, k), at + a + k);
    return;
  }
  h.anchor_before[1] = &q_prev[a - anchor[1]];
  h.anchor[1] = &q_cur[a - anchor[1]];
  const int f = circle_coordinate(h);
  q_cur[a + f] = side.value(ctx[f], predicted[f], at + a + f);
  const std::array<std::int64_t, 2> g = held_pair(h, f);
  const std::array<int, 2> k = others(f);
  for (int j = 0; j < 2; ++j) q_cur[a + k[j]] = side.value(kHeldContext, g[j], at + a + k[j]);
}

// Codes (or decodes) the jump of atom `a` of a frame at `at`, in context `ctx`, and shifts its
// predictions, its bases `b` and, when they are not its bases, its coordinates one frame back, so
// that it is predicted, held and referred to as if it had not jumped. Returns whether it jumped.
template <class Side>
bool jump(const Images& images, int ctx, std::size_t a, std::size_t at,
          std::array<std::int64_t, 3>& predicted, std::int64_t* b, std::int64_t* before,
          Side& side) {
  const int code = side.image(ctx, predicted, at + a);
  const Images::Vector& shift = images.shift(code);
  for (std::size_t c = 0; c < 3; ++c) {
    predicted[c] += shift[c];
    b[a + c] += shift[c];
    if (before != nullptr) before[a + c] += shift[c];
  }
  return code != 0;
}

// The coordinates the model predicts in a block: none in time mode.
std::vector<std::uint8_t> from_model(const Plan& plan, bool pca, std::size_t n) {
  std::vector<std::uint8_t> out(n, 0);
  for (std::size_t i = 0; pca && i < n; ++i) out[i] = plan.atoms[i / 3].time_only ? 0 : 1;
  return out;
}

// Walks the frames of a block in coding order. For each coordinate it forms the prediction
// and asks side.value(context, prediction, index) for the coordinate's grid integer (the
// encoder returns the input's and records the residual, the decoder reads the residual);
// side.begin(n) comes before each frame's values, side.frame(t, q) after them.
template <class Side>
void walk(const Model& model, const Plan& plan, const Layout& layout, std::int64_t first,
          std::int64_t count, std::span<const Transform> transforms, Side& side) {
  const std::size_t n = 3 * static_cast<std::size_t>(model.natoms);
  const bool pca = layout.mode == Mode::pca;
  const std::vector<Recipe> recipe = recipes(plan, pca, n);
  const std::vector<std::uint8_t> modelled = from_model(plan, pca, n);
  const Images& images = layout.images;
  // d: residuals before correction, of the previous frame [0, n) and this one [n, 2n);
  // base: the frame's bases (the model's grid values, or the previous frame's q);
  // cls: the class of each coordinate's coded residual one frame back.
  std::vector<std::int64_t> q_prev(n), q_cur(n), d(2 * n), base(n);
  std::vector<std::uint8_t> cls(n, 3);
  std::vector<double> work(pca ? n : 0);
  for (std::int64_t t = 0; t < count; ++t) {
    if (pca) {
      pca_grid(model, transforms[static_cast<std::size_t>(t)], first + t, layout.step, work, base);
      for (std::size_t i = 0; i < n; ++i) base[i] = modelled[i] ? base[i] : q_prev[i];
    }
    std::int64_t* b = pca ? base.data() : q_prev.data();
    const std::size_t at = static_cast<std::size_t>(t) * n;
    side.begin(t == 0 || images.count() == 0 ? n : n + n / 3);
    if (t == 0) {  // key frame: the model, or the atom before
      for (std::size_t i = 0; i < n; ++i) {
        const bool m = modelled[i] != 0;
        const std::int64_t bi = m ? base[i] : (i >= 3 ? q_cur[i - 3] : 0);
        q_cur[i] = side.value(kKeyContext, bi, at + i);
        d[n + i] = m ? q_cur[i] - bi : 0;
      }
    } else {
      const std::int64_t* dp = d.data();
      bool jumped = false;
      const Faces faces(images.count() != 0 ? std::span(q_prev) : std::span<std::int64_t>(),
                        layout.step);
      for (std::size_t a = 0; a < n; a += 3) {
        // The atom's three predictions first: its terms reach only earlier atoms.
        std::array<std::int64_t, 3> offset{}, predicted{};
        std::array<int, 3> ctx{};
        for (std::size_t c = 0; c < 3; ++c) {
          const Recipe& r = recipe[a + c];
          const std::int64_t sum =
              r.weight[0] * dp[r.at[0]] + r.weight[1] * dp[r.at[1]] + r.weight[2] * dp[r.at[2]];
          const Correction corr = correct(sum);
          offset[c] = corr.offset;
          predicted[c] = b[a + c] + corr.offset;
          ctx[c] = corr.third * 7 + cls[a + c];
        }
        if (images.count() != 0)
          jumped = jump(images, image_context(faces.face(&q_prev[a]), jumped), a, at, predicted, b,
                        pca ? q_prev.data() : nullptr, side);
        const std::array<std::size_t, 2> anchor = recipe[a].anchor;
        if (anchor[0] == 0) {
          for (std::size_t c = 0; c < 3; ++c)
            q_cur[a + c] = side.value(ctx[c], predicted[c], at + a + c);
        } else {
          hold(anchor, a, at, predicted, ctx, q_prev, q_cur, side);
        }
        for (std::size_t c = 0; c < 3; ++c) {
          const std::int64_t residual = q_cur[a + c] - b[a + c];
          d[n + a + c] = residual;
          cls[a + c] =
              static_cast<std::uint8_t>(residual_class(residual - offset[c], layout.shift));
        }
      }
    }
    side.frame(t, q_cur);
    std::swap(q_prev, q_cur);
    std::copy(d.begin() + static_cast<std::ptrdiff_t>(n), d.end(), d.begin());
  }
}

// FNV-1a over the floats' bits; `h` continues the checksum of the floats before them.
constexpr std::uint64_t kChecksumStart = 0xcbf29ce484222325ull;
std::uint64_t checksum(std::span<const float> values, std::uint64_t h = kChecksumStart) {
  for (float v : values) h = (h ^ std::bit_cast<std::uint32_t>(v)) * 0x100000001b3ull;
  return h;
}

void rebuild(std::span<const std::int64_t> q, double step, std::span<float> out) {
  for (std::size_t i = 0; i < q.size(); ++i) {
    out[i] = static_cast<float>(static_cast<double>(q[i]) * step);
  }
}

// Transforms as zigzag varints of the differences of their grid integers from frame to frame.
std::vector<std::uint8_t> write_transforms(std::span<const Transform> transforms) {
  ByteWriter out;
  std::array<std::int64_t, 12> last{};
  for (const Transform& t : transforms) {
    for (int i = 0; i < 12; ++i) {
      const double v = i < 9 ? t.rot[i] * kRotScale : t.trans[i - 9] * kTransScale;
      const auto g = static_cast<std::int64_t>(v);  // exact: the transform is stored
      out.put_varint(zigzag(g - last[i]));
      last[i] = g;
    }
  }
  return std::move(out.bytes());
}

std::vector<Transform> read_transforms(ByteReader& in, std::int64_t count) {
  ByteReader t(in.get_sized(), in.what());
  // Each frame takes at least 12 bytes: a count beyond the data is damage, not an allocation.
  if (t.left() / 12 < static_cast<std::uint64_t>(count)) t.damaged("the transforms are short");
  std::vector<Transform> out(static_cast<std::size_t>(count));
  std::array<std::int64_t, 12> last{};
  for (Transform& tr : out) {
    for (int i = 0; i < 12; ++i) {
      last[i] += unzigzag(t.get_varint());
      const std::int64_t limit = i < 9 ? kRotLimit : kTransLimit;
      if (last[i] < -limit || last[i] > limit) t.damaged("a transform is out of range");
      if (i < 9)
        tr.rot[i] = static_cast<float>(static_cast<double>(last[i]) / kRotScale);
      else
        tr.trans[i - 9] = static_cast<float>(static_cast<double>(last[i]) / kTransScale);
    }
  }
  return out;
}

class EncodeSide {
 public:
  EncodeSide(std::span<const std::int64_t> q, const Layout& layout)
      : q_(q), images_(layout.images), coder_(contexts(layout)) {
    coder_.reserve(q.size());
  }
  std::int64_t value(int ctx, std::int64_t predicted, std::size_t index) {
    coder_.add(ctx, q_[index] - predicted);
    return q_[index];
  }
  int image(int ctx, const std::array<std::int64_t, 3>& predicted, std::size_t index) {
    const int code = images_.nearest(difference(&q_[index], predicted.data()));
    coder_.add(ctx, code);
    return code;
  }
  void begin(std::size_t) {}
  void frame(std::int64_t, std::span<const std::int64_t>) {}
  ContextEncoder& coder() { return coder_; }

 private:
  std::span<const std::int64_t> q_;
  const Images& images_;
  ContextEncoder coder_;
};

// Decodes with its own copy of the coder's cursor, and rebuilds and checksums each frame while
// it is in the cache.
class DecodeSide {
 public:
  DecodeSide(ContextDecoder& coder, double step, int largest_image, std::span<float> out)
      : out_(out),
        step_(step),
        largest_image_(largest_image),
        tables_(coder.tables()),
        cursor_(coder.cursor()) {}
  // Each frame is decoded without the streams' end checks when it cannot reach their ends.
  void begin(std::size_t values) { room_ = cursor_.room_for(values); }
  std::int64_t value(int ctx, std::int64_t predicted, std::size_t) {
    const std::int64_t v =
        predicted + (room_ ? cursor_.next<true>(tables_, ctx) : cursor_.next<false>(tables_, ctx));
    out_of_range_ |= v > kMaxGridValue || v < -kMaxGridValue;
    return std::clamp(v, -kMaxGridValue, kMaxGridValue);
  }
  int image(int ctx, const std::array<std::int64_t, 3>&, std::size_t) {
    const std::int64_t code =
        room_ ? cursor_.next<true>(tables_, ctx) : cursor_.next<false>(tables_, ctx);
    out_of_range_ |= code > largest_image_ || code < -largest_image_;
    return static_cast<int>(std::clamp<std::int64_t>(code, -largest_image_, largest_image_));
  }
  void frame(std::int64_t t, std::span<const std::int64_t> q) {
    const auto frame = out_.subspan(static_cast<std::size_t>(t) * q.size(), q.size());
    rebuild(q, step_, frame);
    checksum_ = checksum(frame, checksum_);
  }
  bool clean() const { return !out_of_range_ && cursor_.ended_cleanly(); }
  std::uint64_t checksum_of_frames() const { return checksum_; }

 private:
  std::span<float> out_;
  double step_;
  int largest_image_;
  const ContextDecoder::Table* tables_;
  ContextDecoder::Cursor cursor_;
  std::uint64_t checksum_ = kChecksumStart;
  bool out_of_range_ = false;
  bool room_ = false;
};

// The context scale: residuals one frame back are compared after shifting by about the bit
// length of a typical frame-to-frame change (jumps to another image taken away).
int context_shift(std::span<const std::int64_t> q, std::size_t n, std::int64_t count,
                  const Images& images) {
  if (count < 2) return 0;
  const std::size_t frames = static_cast<std::size_t>(std::min<std::int64_t>(count, 8));
  std::uint64_t total = 0;
  for (std::size_t i = n; i < frames * n; i += 3) {
    const Images::Vector moved = images.reduced(difference(&q[i], &q[i - n]));
    for (const std::int64_t m : moved) total += static_cast<std::uint64_t>(std::llabs(m));
  }
  const std::uint64_t mean = total / ((frames - 1) * n);
  return std::max(0, static_cast<int>(std::bit_width(mean)) - 2);
}

struct Trial {
  Layout layout;
  std::vector<std::uint8_t> bytes;
};

Trial trial(const Model& model, const Plan& plan, const Layout& layout, const BlockInput& in,
            std::span<const std::int64_t> q, std::span<const Transform> stored_t) {
  EncodeSide side(q, layout);
  walk(model, plan, layout, in.first, in.count, stored_t, side);
  Trial t{layout, {}};
  ByteWriter out;
  side.coder().finish(out);
  t.bytes = std::move(out.bytes());
  return t;
}

}  // namespace

EncodedBlock encode_block(const Model& model, const Plan& plan, const BlockInput& in,
                          double max_error) {
  const std::size_t n = 3 * static_cast<std::size_t>(model.natoms);
  double largest = 0.0;
  for (float v : in.frames) {
    if (!std::isfinite(v))
      die("a coordinate is not a finite number (frame " + std::to_string(in.first + 1) +
          " of the block)");
    largest = std::max(largest, std::fabs(static_cast<double>(v)));
  }
  Layout layout;
  layout.step = grid_step(max_error, largest);
  std::vector<std::int64_t> q(in.frames.size());
  for (std::size_t i = 0; i < q.size(); ++i) {
    q[i] = round_half_up(static_cast<double>(in.frames[i]) / layout.step);
  }
  layout.images = find_images(q, n, in.count, layout.step);
  layout.shift = context_shift(q, n, in.count, layout.images);

  Trial best = trial(model, plan, layout, in, q, {});
  std::vector<Transform> stored_t;
  if (!in.transforms.empty()) {
    for (const Transform& t : in.transforms) stored_t.push_back(stored(t));
    Layout pca = layout;
    pca.mode = Mode::pca;
    Trial alt = trial(model, plan, pca, in, q, stored_t);
    if (alt.bytes.size() + 24 * static_cast<std::size_t>(in.count) < best.bytes.size())
      best = std::move(alt);
  }

  std::vector<float> rebuilt(q.size());
  rebuild(q, layout.step, rebuilt);
  ByteWriter out;
  out.put(static_cast<std::uint32_t>(in.count));
  out.put(static_cast<std::uint8_t>(best.layout.mode));
  out.put(static_cast<std::uint8_t>(best.layout.shift));
  out.put(static_cast<std::uint16_t>(layout.images.count()));
  out.put(layout.step);
  out.put(checksum(rebuilt));
  for (int k = 0; k < layout.images.count(); ++k) {
    for (const std::int64_t v : layout.images.vector(k)) out.put(static_cast<std::int32_t>(v));
  }
  EncodedBlock block;
  block.mode = best.layout.mode;
  if (best.layout.mode == Mode::pca) {
    const auto tb = write_transforms(stored_t);
    out.put_sized(tb);
    block.transform_bytes = static_cast<std::uint32_t>(tb.size() + 4);
  }
  out.put_bytes(best.bytes);
  block.bytes = std::move(out.bytes());

  // Verify what is written: decode it and hold every coordinate to the bound.
  std::vector<float> check(q.size());
  decode_block(model, plan, block.bytes, in.first, in.count, check, "the block just encoded");
  for (std::size_t i = 0; i < check.size(); ++i) {
    const double dev = std::fabs(static_cast<double>(check[i]) - static_cast<double>(in.frames[i]));
    block.max_deviation = std::max(block.max_deviation, dev);
  }
  if (!(block.max_deviation <= max_error)) {
    die("internal error: a coordinate of frame " + std::to_string(in.first + 1) +
        " is off by more than the maximum error");
  }
  return block;
}

void decode_block(const Model& model, const Plan& plan, std::span<const std::uint8_t> bytes,
                  std::int64_t first, std::int64_t count, std::span<float> out,
                  std::string_view what) {
  ByteReader in(bytes, what);
  if (in.get<std::uint32_t>() != static_cast<std::uint64_t>(count)) in.damaged("wrong frame count");
  Layout layout;
  const auto mode = in.get<std::uint8_t>();
  layout.shift = in.get<std::uint8_t>();
  const auto images = in.get<std::uint16_t>();
  layout.step = in.get<double>();
  const auto sum = in.get<std::uint64_t>();
  if (mode > 1 || layout.shift > 40) in.damaged("unknown mode");
  if (images > kMaxImages) in.damaged("too many lattice vectors");
  std::array<Images::Vector, kMaxImages> vectors{};
  for (std::size_t k = 0; k < images; ++k) {
    for (std::int64_t& v : vectors[k]) v = in.get<std::int32_t>();
  }
  layout.images = Images(std::span(vectors).first(images));
  if (!(layout.step > 0.0) || !(layout.step < 1.0e6)) in.damaged("grid step out of range");
  layout.mode = static_cast<Mode>(mode);
  std::vector<Transform> transforms;
  if (layout.mode == Mode::pca) transforms = read_transforms(in, count);
  if (out.size() != static_cast<std::size_t>(count) * 3 * static_cast<std::size_t>(model.natoms))
    in.damaged("wrong frame count");
  ContextDecoder coder(in, contexts(layout));
  DecodeSide side(coder, layout.step, layout.images.largest(), out);
  walk(model, plan, layout, first, count, transforms, side);
  if (!side.clean() || in.left() != 0) in.damaged("the coded values do not fit the streams");
  if (side.checksum_of_frames() != sum) in.damaged("checksum mismatch");
}

}  // namespace kvtraj::codec
