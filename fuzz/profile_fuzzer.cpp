// Fuzz target: the settings-file reader and writer on a hand-edited file of any content.
//
// The file is read for every section and key it seems to hold and for the keys the system
// uses, then "Errors"/"Status" is set to "1", as the sorting round does in a sender's
// Client.ini. Every read is cut to 499 bytes; the write succeeds and reads back; every other
// key reads as before; and (POSIX writer, which promises it) the file changes in one place
// only: one value replaced, or the new key, with its section when missing, inserted. Each
// byte 0x01 of the input stands for a run of kRunLength letters, so short inputs reach lines
// longer than the reader parses.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/scratch_folder.h"
#include "platform/profile.h"

namespace {

constexpr std::size_t kRunLength = 70000;
constexpr std::size_t kMaxRuns = 1;
constexpr std::size_t kBufferSize = 500;
constexpr std::size_t kMaxProbes = 10;

using Probe = std::pair<std::string, std::string>;  // section, key

std::string expand_runs(std::string_view input) {
  std::string out;
  std::size_t runs = 0;
  for (char c : input) {
    if (c == '\x01' && runs < kMaxRuns) {
      out.append(kRunLength, 'v');
      ++runs;
    } else {
      out += c;
    }
  }
  return out;
}

std::string trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Sections and keys the file seems to hold (a rough reading: the probes need not be exact),
// and the ones the system reads.
std::vector<Probe> probes_of(const std::string& file) {
  std::vector<Probe> probes = {{"Errors", "Status"}, {"Persistance", "running"},
                               {"Monitoring", "value"}};
  std::string section;
  std::size_t start = 0;
  while (start < file.size() && probes.size() < kMaxProbes) {
    std::size_t end = file.find('\n', start);
    if (end == std::string::npos) end = file.size();
    const std::string line = trimmed(std::string_view(file).substr(start, end - start));
    start = end + 1;
    if (!line.empty() && line.front() == '[') {
      section = trimmed(std::string_view(line).substr(1, line.find(']') - 1));
    } else if (const auto eq = line.find('='); eq != std::string::npos && eq > 0 && line.size() < 256) {
      const std::string key = trimmed(std::string_view(line).substr(0, eq));
      if (!key.empty() && key.find_first_of("\r\n") == std::string::npos) probes.emplace_back(section, key);
    }
  }
  return probes;
}

#ifndef _WIN32
// Windows' own writer rewrites the file in its own layout; the POSIX writer promises to keep
// every other byte.
std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The new file is the old one with one stretch replaced: no line but the written one changes.
void check_changed_in_one_place(const std::string& before, const std::string& after) {
  std::size_t prefix = 0;
  while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix]) ++prefix;
  std::size_t suffix = 0;
  while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
         before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
    ++suffix;
  }
  const std::string_view removed = std::string_view(before).substr(prefix, before.size() - prefix - suffix);
  const std::string_view added = std::string_view(after).substr(prefix, after.size() - prefix - suffix);
  // A replaced value ends at its line end; an insertion adds at most a line end, the section
  // header and the key line.
  FUZZ_CHECK(removed.find('\n') == std::string_view::npos);
  FUZZ_CHECK(added.size() <= std::string_view("\r\n[Errors]\r\nStatus=1\r\n").size());
}
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  static fuzzsupport::ScratchFolder folder("profile");
  const auto path = folder / "Client.ini";
  const std::u16string file = fuzzsupport::u16(path);
  const std::string content = expand_runs(std::string_view(reinterpret_cast<const char*>(data), size));
  fuzzsupport::write_file(path, content);

  const std::vector<Probe> probes = probes_of(content);
  std::vector<std::string> values;
  for (const auto& [section, key] : probes) {
    values.push_back(platform::read_profile_string(file, section, key, "default", kBufferSize));
    FUZZ_CHECK(values.back().size() < kBufferSize);
  }

  FUZZ_CHECK(platform::write_profile_string(file, "Errors", "Status", "1"));
  FUZZ_CHECK(platform::read_profile_string(file, "Errors", "Status", "", kBufferSize) == "1");
#ifndef _WIN32
  check_changed_in_one_place(content, read_all(path));
#endif

  for (std::size_t i = 0; i < probes.size(); ++i) {
    const auto& [section, key] = probes[i];
    if (lower(section) == "errors" && lower(key) == "status") continue;
    FUZZ_CHECK(platform::read_profile_string(file, section, key, "default", kBufferSize) == values[i]);
  }
  return 0;
}
