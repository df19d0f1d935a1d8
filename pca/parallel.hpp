// Work split over the engine's threads: each pass divides its block of frames (or the matrix
// panels of a block) into parts that run side by side and sum into separate accumulators. The
// matrix products inside a part run on one BLAS thread, which keeps both cores busy where
// OpenBLAS's own threads do not (products with a short output and a long inner dimension).
#pragma once

#include <functional>

namespace kvtraj::pca {

// Runs fn(0) .. fn(parts - 1) at the same time, fn(0) on the calling thread; an exception of any
// part is rethrown here once all have ended.
void run_parts(int parts, const std::function<void(int part)>& fn);

}  // namespace kvtraj::pca
