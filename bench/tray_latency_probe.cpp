// How long a pupil waits for the tray program. Run in the same Windows (or Wine) session as a
// running Sorter.exe, this writer drops e-mails into the store's MailBank at random moments as a
// pupil's client does (the file created new and held open, shared with readers only, while it
// is written) and takes, for each, the time from its close to its name in the recipient's
// Inbox. Each file is
//   single: created, written and closed in one go;
//   paused: created, half written, left open for a random pause, the rest written, closed.
// The first file only waits for the sorter to be sorting (its loading display ends first) and
// is not counted. Prints the count, median, p90 and worst for each mode, and any file that
// went to Error, arrived before its close, or never arrived within the patience.
//
//   tray_latency_probe STORE SAMPLE [--files N] [--mode single|paused|both] [--max-gap S]
//                      [--max-pause S] [--patience S] [--seed N] [--to MAILBOX]
//
// SAMPLE is an e-mail file addressed to MAILBOX (default "pupil"), e.g. one `corvane send`
// wrote. bench/tray_latency.sh builds a scratch store, starts Sorter.exe in it under wine64 and
// runs this probe beside it.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

struct Args {
  std::wstring store;
  std::wstring sample;
  std::wstring to = L"pupil";
  int files = 15;
  bool single = true;
  bool paused = true;
  double max_gap = 3.0;
  double min_pause = 0.5;
  double max_pause = 3.0;
  double patience = 30.0;
  unsigned seed = 0;
};

double now_seconds() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) / frequency;
}

void sleep_seconds(double s) { Sleep(static_cast<DWORD>(std::max(0.0, s) * 1000.0)); }

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool write_all(HANDLE h, const char* data, std::size_t size) {
  while (size > 0) {
    DWORD done = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(size), &done, nullptr) || done == 0) return false;
    data += done;
    size -= done;
  }
  return true;
}

enum class Outcome { inbox, error, early, late, unwritten };

struct Result {
  Outcome outcome;
  double wait = 0;
};

// Drops one file and waits for it in the Inbox (or Error).
Result drop_and_wait(const Args& a, const std::string& bytes, const std::wstring& name,
                     double pause) {
  const std::wstring target = a.store + L"\\MailBank\\" + name;
  const std::wstring inbox = a.store + L"\\MailBox\\" + a.to + L"\\Inbox\\" + name;
  const std::wstring error = a.store + L"\\Error\\" + name;
  const HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {Outcome::unwritten};
  const std::size_t half = pause > 0 ? bytes.size() / 2 : bytes.size();
  bool ok = write_all(h, bytes.data(), half);
  if (pause > 0) {
    sleep_seconds(pause);
    ok = ok && write_all(h, bytes.data() + half, bytes.size() - half);
  }
  // Taken while the writer still held the file: the sorter must never do that.
  const bool early = exists(inbox);
  CloseHandle(h);
  const double closed = now_seconds();
  if (!ok) return {Outcome::unwritten};
  if (early) return {Outcome::early};
  while (now_seconds() < closed + a.patience) {
    if (exists(inbox)) return {Outcome::inbox, std::max(0.0, now_seconds() - closed)};
    if (exists(error)) return {Outcome::error};
    Sleep(1);
  }
  return {Outcome::late};
}

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(p / 100.0 * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

bool mode_run(const char* mode, bool paused, const Args& a, const std::string& bytes,
              std::mt19937& random) {
  std::uniform_real_distribution<double> gap(0.0, a.max_gap);
  std::uniform_real_distribution<double> pause(a.min_pause, a.max_pause);
  std::vector<double> waits;
  int to_error = 0, early = 0, late = 0, unwritten = 0;
  for (int i = 0; i < a.files; ++i) {
    sleep_seconds(gap(random));
    const std::wstring name = std::wstring(mode, mode + std::char_traits<char>::length(mode)) +
                              std::to_wstring(i) + L".eml";
    const Result r = drop_and_wait(a, bytes, name, paused ? pause(random) : 0.0);
    switch (r.outcome) {
      case Outcome::inbox: waits.push_back(r.wait); break;
      case Outcome::error: ++to_error; break;
      case Outcome::early: ++early; break;
      case Outcome::late: ++late; break;
      case Outcome::unwritten: ++unwritten; break;
    }
  }
  std::printf("%-6s write: %zu of %d in Inbox", mode, waits.size(), a.files);
  if (!waits.empty()) {
    std::printf(", close->Inbox median %.4f s, p90 %.4f s, worst %.4f s (best %.4f s)",
                percentile(waits, 50), percentile(waits, 90), percentile(waits, 100),
                *std::min_element(waits.begin(), waits.end()));
  }
  std::printf("\n");
  const int faults = to_error + early + late + unwritten;
  if (faults > 0) {
    std::printf("%-6s write: FAULTS: %d to Error, %d in Inbox before their close, %d not "
                "written, %d not in the Inbox within %.0f s of their close\n",
                mode, to_error, early, unwritten, late, a.patience);
  }
  std::fflush(stdout);
  return faults == 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: tray_latency_probe STORE SAMPLE [--files N] [--mode single|paused|both]"
               " [--max-gap S] [--max-pause S] [--patience S] [--seed N] [--to MAILBOX]\n");
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Args a;
  std::vector<std::wstring> positional;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.rfind(L"--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) return usage();
    const std::wstring value = argv[++i];
    if (arg == L"--files") a.files = std::stoi(value);
    else if (arg == L"--max-gap") a.max_gap = std::stod(value);
    else if (arg == L"--max-pause") a.max_pause = std::stod(value);
    else if (arg == L"--patience") a.patience = std::stod(value);
    else if (arg == L"--seed") a.seed = static_cast<unsigned>(std::stoul(value));
    else if (arg == L"--to") a.to = value;
    else if (arg == L"--mode") {
      a.single = value == L"single" || value == L"both";
      a.paused = value == L"paused" || value == L"both";
      if (!a.single && !a.paused) return usage();
    } else {
      return usage();
    }
  }
  if (positional.size() != 2 || a.files < 1) return usage();
  a.store = positional[0];
  a.sample = positional[1];

  std::ifstream in(a.sample.c_str(), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (bytes.empty()) {
    std::fprintf(stderr, "tray_latency_probe: cannot read the sample e-mail\n");
    return 1;
  }
  std::mt19937 random(a.seed != 0 ? a.seed : GetTickCount());

  // Waits out the sorter's start (its loading display) with a first file, not counted.
  Args first = a;
  first.patience = std::max(a.patience, 60.0);
  if (drop_and_wait(first, bytes, L"warmup.eml", 0).outcome != Outcome::inbox) {
    std::printf("the sorter delivered no first e-mail within %.0f s\n", first.patience);
    return 2;
  }
  bool ok = true;
  if (a.single) ok = mode_run("single", false, a, bytes, random) && ok;
  if (a.paused) ok = mode_run("paused", true, a, bytes, random) && ok;
  return ok ? 0 : 3;
}
