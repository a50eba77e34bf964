// The corpus replay where libFuzzer is not linked in: every file of the folders (and files)
// named on the command line goes to the fuzz target once, in a heap block of exactly its size,
// as libFuzzer hands it. Fails when it finds no file at all: a folder that reads as empty (as
// one can through a 32-bit readdir under qemu) must not pass as a clean run.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The files of a folder in name order (hidden ones left out), or the path itself.
std::vector<std::string> Files(const std::string& path) {
  if (!IsDirectory(path)) return {path};
  std::vector<std::string> out;
  if (DIR* dir = opendir(path.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      const std::string file = path + "/" + entry->d_name;
      if (!IsDirectory(file)) out.push_back(file);
    }
    closedir(dir);
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  for (int k = 1; k < argc; ++k) {
    const std::vector<std::string> more = Files(argv[k]);
    files.insert(files.end(), more.begin(), more.end());
  }
  if (files.empty()) {
    std::fprintf(stderr, "no corpus files found\n");
    return 1;
  }
  for (const std::string& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", file.c_str());
      return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    if (!bytes.empty()) std::memcpy(exact.get(), bytes.data(), bytes.size());
    std::fprintf(stderr, "%s\n", file.c_str());
    LLVMFuzzerTestOneInput(exact.get(), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return 0;
}
