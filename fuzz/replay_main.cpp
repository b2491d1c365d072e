// Runs fuzz inputs through a target without libFuzzer: every file named on the command line,
// and every file under every folder named there, in name order. Arguments starting with '-' are
// libFuzzer options and are ignored, so one command line serves both kinds of build. Exits 1
// when no input was found (a missing corpus must not pass silently) or an input cannot be read;
// a failed property aborts the program.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputs_of(const fs::path& arg) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (fs::is_directory(arg, ec)) {
    for (const auto& entry : fs::recursive_directory_iterator(arg, ec)) {
      if (entry.is_regular_file(ec)) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
  } else if (fs::is_regular_file(arg, ec)) {
    files.push_back(arg);
  } else {
    std::fprintf(stderr, "replay: no such file or folder: %s\n", arg.string().c_str());
  }
  return files;
}

bool run_one(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.string().c_str());
    return false;
  }
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  // An empty input is passed as a non-null pointer and size 0, as libFuzzer does.
  static const uint8_t kNothing = 0;
  LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t ran = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!arg.empty() && arg[0] == '-') continue;
    for (const auto& file : inputs_of(fs::path(arg))) {
      ok = run_one(file) && ok;
      ++ran;
    }
  }
  std::printf("replay: %zu inputs\n", ran);
  return ok && ran > 0 ? 0 : 1;
}
