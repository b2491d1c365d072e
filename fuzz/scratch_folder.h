#pragma once
// A folder of its own for a fuzz target that needs files, removed when the program ends
// normally (a crashed run leaves it behind in the temporary folder).

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace fuzzsupport {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("corvane-fuzz-" + name + "-" + std::to_string(stamp));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::filesystem::path operator/(const std::string& file) const { return path_ / file; }

 private:
  std::filesystem::path path_;
};

inline void write_file(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The path as the UTF-16 text the library's operations take.
inline std::u16string u16(const std::filesystem::path& p) {
  const auto s = p.u16string();
  return std::u16string(s.begin(), s.end());
}

}  // namespace fuzzsupport
