// Album lists of any content. Lines that name a real trajectory are useful seeds; the
// placeholder @DCD@ in an input stands for the path of the committed sample file.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/reader_fuzz.hpp"
#include "trajsrc/trajsrc.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kvtraj::fuzz::init();
  std::string text(reinterpret_cast<const char*>(data), size);
  for (auto at = text.find("@DCD@"); at != std::string::npos; at = text.find("@DCD@", at)) {
    text.replace(at, 5, KVTRAJ_FUZZ_DCD);
  }
  const kvtraj::fuzz::InputFile list(reinterpret_cast<const std::uint8_t*>(text.data()),
                                     text.size(), ".list");
  kvtraj::fuzz::survive([&] {
    std::int32_t natoms = 0;
    auto album = std::make_unique<kvtraj::album>(kvtraj::xalbopen(11, list.path(), natoms));
    if (album->status == 0 && album->total > 0) {
      std::vector<float> coords(3 * static_cast<std::size_t>(album->natoms));
      kvtraj::xalbsnap(*album, coords, album->total);
      kvtraj::xalbsnap(*album, coords, 1);
    }
  });
  kvtraj::f77_molfile_init();  // releases whatever a fatal exit left open
  return 0;
}
