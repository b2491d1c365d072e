// Throughput of the record encoding on large records: an e-mail carrying a 4 MiB picture and
// a template with 100,000 text boxes. Each is measured for encode, decode and a whole-file read
// through the record-file layer, next to a plain read of the same file from the page cache
// (the floor no decoder can beat).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "corvane/model/record_codec.h"
#include "corvane/model/record_file.h"

namespace {

using namespace corvane;

EmailMsg email_with_picture() {
  EmailMsg m;
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emSubject = u"Holiday pictures";
  MsgPicture p;
  p.FileName = u"beach.bmp";
  std::vector<Byte> bytes(4u << 20);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<Byte>(i * 131 + 7);
  p.Value = List<Byte>::sized(0, std::move(bytes));
  m.emMsg.Pictures = List<MsgPicture>::sized(0, {p});
  return m;
}

MsgContents template_with_text_boxes() {
  MsgContents c;
  std::vector<MsgText> boxes(100000);
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    boxes[i].X = static_cast<Long>(i);
    boxes[i].Font.FontName = u"Arial";
    boxes[i].Font.Charset = u"0";
    boxes[i].Font.Size = 10;
    boxes[i].Font.Weight = 400;
    boxes[i].Value = u"Text box number " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
  }
  c.Texts = List<MsgText>::sized(0, std::move(boxes));
  return c;
}

template <class R>
const R& sample();
template <>
const EmailMsg& sample<EmailMsg>() {
  static const EmailMsg m = email_with_picture();
  return m;
}
template <>
const MsgContents& sample<MsgContents>() {
  static const MsgContents c = template_with_text_boxes();
  return c;
}

template <class R>
const std::filesystem::path& sample_file() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() /
             ("corvane-bench-" + std::to_string(sizeof(R)) + ".rec");
    std::filesystem::remove(p);
    write_record_file(p.u16string(), sample<R>());
    return p;
  }();
  return path;
}

template <class R>
void BM_Encode(benchmark::State& state) {
  const R& record = sample<R>();
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto out = encode_record(record);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes * state.iterations()));
}

template <class R>
void BM_Decode(benchmark::State& state) {
  const auto encoded = encode_record(sample<R>());
  for (auto _ : state) {
    R record{};
    decode_record(encoded, record);
    benchmark::DoNotOptimize(&record);
  }
  state.SetBytesProcessed(static_cast<int64_t>(encoded.size() * state.iterations()));
}

template <class R>
void BM_ReadRecordFile(benchmark::State& state) {
  const auto& path = sample_file<R>();
  for (auto _ : state) {
    R record{};
    read_record_file(path.u16string(), record);
    benchmark::DoNotOptimize(&record);
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(std::filesystem::file_size(path) * state.iterations()));
}

template <class R>
void BM_PlainFileRead(benchmark::State& state) {
  const auto& path = sample_file<R>();
  const auto size = std::filesystem::file_size(path);
  std::vector<char> buffer(size);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), f);
    std::fclose(f);
    benchmark::DoNotOptimize(got);
  }
  state.SetBytesProcessed(static_cast<int64_t>(size * state.iterations()));
}

BENCHMARK(BM_Encode<EmailMsg>)->Name("Encode/EmailWith4MiBPicture")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode<EmailMsg>)->Name("Decode/EmailWith4MiBPicture")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecordFile<EmailMsg>)
    ->Name("OpenFile/EmailWith4MiBPicture")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileRead<EmailMsg>)
    ->Name("PlainRead/EmailWith4MiBPicture")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode<MsgContents>)->Name("Encode/Template100kTextBoxes")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode<MsgContents>)->Name("Decode/Template100kTextBoxes")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadRecordFile<MsgContents>)
    ->Name("OpenFile/Template100kTextBoxes")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFileRead<MsgContents>)
    ->Name("PlainRead/Template100kTextBoxes")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
