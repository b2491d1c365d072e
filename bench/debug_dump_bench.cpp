// Cost of the debug dumps on large bodies: DebugTemplate over 1,000 to 100,000 text boxes and
// DebugEmail over an e-mail with 100,000 text boxes. The per-item time stays flat across the
// sizes when the text is built in linear time.

#include <benchmark/benchmark.h>

#include <vector>

#include "corvane/object_model/mail_object_model.h"

namespace {

using namespace corvane;

MsgContents body_with_text_boxes(std::size_t count) {
  MsgText box;
  box.Font = SaveableFont{u"Arial", u"0", kTrue, kFalse, kFalse, kFalse, 10, 700};
  box.Value = u"A text box value longer than the ten characters shown";
  box.Width = 300;
  box.Height = 40;
  MsgContents c;
  c.Texts = List<MsgText>::sized(0, std::vector<MsgText>(count, box));
  c.Pictures = List<MsgPicture>::sized(1, std::vector<MsgPicture>(count / 100));
  return c;
}

void BM_DebugTemplate(benchmark::State& state) {
  const auto count = static_cast<std::size_t>(state.range(0));
  const MsgContents body = body_with_text_boxes(count);
  MailObjectModel model;
  std::size_t chars = 0;
  for (auto _ : state) {
    const Text dump = model.DebugTemplate(body);
    chars = dump.size();
    benchmark::DoNotOptimize(dump.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
  state.counters["chars"] = static_cast<double>(chars);
}
BENCHMARK(BM_DebugTemplate)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_DebugEmail(benchmark::State& state) {
  EmailMsg m;
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emDate = 45123.625;
  m.emMsg = body_with_text_boxes(100000);
  MailObjectModel model;
  for (auto _ : state) {
    const Text dump = model.DebugEmail(m);
    benchmark::DoNotOptimize(dump.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * 100000);
}
BENCHMARK(BM_DebugEmail)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
