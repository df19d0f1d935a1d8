// What the engine's readers need to know of a trajectory name: whether it decodes slowly, and a
// fingerprint of the file that changes when the file does.
#include <sys/stat.h>

#include <string>

#include "fmtreaders/fmtreaders.hpp"
#include "pca/pca.hpp"
#include "trajsrc/trajsrc.hpp"

namespace kvtraj::pca {

bool slow_to_decode(const std::string& name, std::int32_t type, bool album) {
  if (album || type == kTypeCrd || type == kTypeCrdBox) return true;
  const auto open = name.rfind('(');
  if (open == std::string::npos || name.back() != ')') return false;
  std::int32_t first = 0, last = 0, stride = 1, error = 0;
  xparse(std::string_view(name).substr(open + 1, name.size() - open - 2), first, last, stride,
         error);
  return error == 0 && stride != 1;
}

std::string file_fingerprint(const std::string& name) {
  const std::string path = name.substr(0, name.rfind('('));
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "gone";
  return std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace kvtraj::pca
