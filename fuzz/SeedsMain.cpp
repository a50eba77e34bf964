// Writes the seed corpus (fuzz/corpus/<target>/<name>), or checks that a corpus holds every
// seed as it is written now.
//   fuzz_seeds --write DIR | --check DIR
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Seeds.h"

namespace {

bool Same(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::vector<uint8_t> held((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  return held == bytes;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "--write" && mode != "--check") {
    std::fprintf(stderr, "usage: fuzz_seeds --write DIR | --check DIR\n");
    return 2;
  }
  const std::string dir = argv[2];
  int wrong = 0;
  const std::vector<rvt_fuzz::Seed> seeds = rvt_fuzz::Seeds();
  for (const rvt_fuzz::Seed& seed : seeds) {
    const std::string folder = dir + "/" + seed.target;
    const std::string path = folder + "/" + seed.name;
    if (mode == "--write") {
      mkdir(dir.c_str(), 0755);
      mkdir(folder.c_str(), 0755);
      if (!Write(path, seed.bytes)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++wrong;
      }
    } else if (!Same(path, seed.bytes)) {
      std::fprintf(stderr, "%s is missing or differs (fuzz_seeds --write %s)\n", path.c_str(),
                   dir.c_str());
      ++wrong;
    }
  }
  std::printf("%zu seeds %s\n", seeds.size(), mode == "--write" ? "written" : "checked");
  return wrong == 0 ? 0 : 1;
}
