#include "pca/parallel.hpp"

#include <exception>
#include <thread>
#include <vector>

namespace kvtraj::pca {

void run_parts(int parts, const std::function<void(int part)>& fn) {
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(parts > 1 ? parts : 1));
  std::vector<std::thread> helpers;
  for (int p = 1; p < parts; ++p) {
    helpers.emplace_back([&, p] {
      try {
        fn(p);
      } catch (...) {
        errors[p] = std::current_exception();
      }
    });
  }
  try {
    fn(0);
  } catch (...) {
    errors[0] = std::current_exception();
  }
  for (std::thread& t : helpers) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace kvtraj::pca
