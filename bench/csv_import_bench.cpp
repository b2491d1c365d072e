// Lesson CSV import speed: 1,000,000 lines over 30,000 step numbers (lines of a step spread
// over the whole file), and the same mix at N and 2N lines so the time ratio shows whether the
// import is linear (about 2) or not. Each run reads the CSV file and writes the lesson file.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "corvane/object_model/mail_object_model.h"

namespace {

namespace fs = std::filesystem;
using corvane::MailObjectModel;

constexpr int kStepNumbers = 30000;

fs::path bench_folder() {
  static const fs::path folder = [] {
    fs::path p = fs::temp_directory_path() / "corvane-csv-import-bench";
    fs::create_directories(p);
    return p;
  }();
  return folder;
}

// A CSV file of `lines` lines whose step numbers are drawn from kStepNumbers values.
fs::path csv_file(int64_t lines) {
  const fs::path path = bench_folder() / ("lesson-" + std::to_string(lines) + ".csv");
  if (fs::exists(path)) return path;
  std::mt19937 random(7);
  std::ofstream out(path, std::ios::binary);
  for (int64_t i = 0; i < lines; ++i) {
    const int number = static_cast<int>(random() % kStepNumbers) - kStepNumbers / 2;
    out << number << ",Sender " << i % 97 << ",\"Subject, part " << i % 13
        << "\",Message text of line " << i << ", with a comma\r\n";
  }
  return path;
}

std::u16string u16(const fs::path& p) {
  const auto s = p.u16string();
  return std::u16string(s.begin(), s.end());
}

void BM_ImportCsv(benchmark::State& state) {
  const fs::path csv = csv_file(state.range(0));
  const fs::path lesson = bench_folder() / "lesson.les";
  MailObjectModel model(corvane::make_stderr_presenter(), nullptr);
  for (auto _ : state) {
    fs::remove(lesson);
    if (!model.ConvertCSV2Lesson(u16(csv), u16(lesson))) state.SkipWithError("import failed");
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(csv)));
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ImportCsv)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true)
    ->Complexity(benchmark::oN);

// Collects the median times of each line count and prints the 2N/N ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
          !run.run_name.args.empty()) {
        const int64_t lines = std::stoll(run.run_name.args);
        times_[lines] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [n, time] : times_) {
      const auto doubled = times_.find(2 * n);
      if (doubled == times_.end()) continue;
      std::printf("%lld lines / %lld lines: real time x%.2f, CPU time x%.2f\n",
                  static_cast<long long>(2 * n), static_cast<long long>(n),
                  doubled->second.first / time.first, doubled->second.second / time.second);
    }
  }

 private:
  std::map<int64_t, std::pair<double, double>> times_;  // real, CPU
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::error_code ignored;
  fs::remove_all(bench_folder(), ignored);
  return 0;
}
