// Writes the generated seed corpus: records built in code and encoded by the library, so the
// seeds are well-formed files of every shape the readers must handle (the worked example,
// empty and sized-empty lists, other lower bounds, pictures, non-ASCII texts, lessons).
//
//   fuzz_make_corpus <corpus folder>     writes <corpus folder>/<target>/seed-*

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <type_traits>
#include <vector>

#include "corvane/model/record_codec.h"
#include "corvane/model/records.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane;

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A copy of bytes cut to its first n bytes, or with bytes [at, at + patch.size()) replaced.
std::vector<uint8_t> cut(std::vector<uint8_t> bytes, std::size_t n) {
  bytes.resize(n);
  return bytes;
}
std::vector<uint8_t> patched(std::vector<uint8_t> bytes, std::size_t at,
                             const std::vector<uint8_t>& patch) {
  std::copy(patch.begin(), patch.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  return bytes;
}

// The dump target's input: a byte choosing the record type (0 EmailMsg, 1 MsgContents,
// 2 EmailLesson), then the record file.
template <Record R>
uint8_t dump_selector() {
  if constexpr (std::is_same_v<R, EmailMsg>) return 0;
  if constexpr (std::is_same_v<R, MsgContents>) return 1;
  return 2;
}

// Writes the record as a seed of its decoder's target and of the dump target.
template <Record R>
void write_seed(const fs::path& root, const std::string& target, const std::string& name,
                const R& record) {
  const std::vector<uint8_t> bytes = encode_record(record);
  write_file(root / target / ("seed-" + name), bytes);
  std::vector<uint8_t> dump_input{dump_selector<R>()};
  dump_input.insert(dump_input.end(), bytes.begin(), bytes.end());
  write_file(root / "record_dump" / ("seed-" + target + "-" + name), dump_input);
}

MsgText text_box(Long x, Text value) {
  MsgText box;
  box.X = x;
  box.Y = 20;
  box.Editable = kTrue;
  box.Colour = 255;
  box.Font.FontName = u"Arial";
  box.Font.Charset = u"0";
  box.Font.Size = 12;
  box.Font.Weight = 400;
  box.Value = std::move(value);
  box.Width = 100;
  box.Height = 50;
  return box;
}

EmailMsg worked_example() {
  EmailMsg m;
  m.emSignature = {0x11, 0x22, 0x33};
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emSubject = u"Hi";
  m.emMsg.Texts = List<MsgText>::sized(0, {text_box(10, u"Hello")});
  m.emDate = 38353.5;
  return m;
}

MsgContents rich_body() {
  MsgContents c;
  MsgText bold = text_box(-5, u"Caf\u00e9 \u20ac 5, \"quoted\"\r\nsecond line");
  bold.Font.Bold = kTrue;
  bold.Font.Italic = 5;  // a Boolean other than 0 and -1 is kept as stored
  c.Texts = List<MsgText>::sized(1, {text_box(0, u"First"), bold});
  MsgPicture picture;
  picture.FileName = u"C:\\Pictures\\logo.gif";
  picture.X = 7;
  picture.Y = 9;
  picture.Borders = 1;
  picture.Value = List<Byte>::sized(1, {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00});
  MsgPicture empty_picture;
  empty_picture.Value = List<Byte>::sized(0);
  c.Pictures = List<MsgPicture>::sized(0, {picture, empty_picture});
  return c;
}

void email_seeds(const fs::path& root) {
  const std::string t = "email_msg";
  write_seed(root, t, "worked-example", worked_example());
  write_seed(root, t, "empty", EmailMsg{});
  EmailMsg sized_empty;
  sized_empty.emMsg.Texts = List<MsgText>::sized(3);
  sized_empty.emMsg.Pictures = List<MsgPicture>::sized(-2);
  write_seed(root, t, "sized-empty-lists", sized_empty);
  EmailMsg rich = worked_example();
  rich.emRead = 1;
  rich.emCC = u"Bob";
  rich.emSubject = u"R\u00e9sum\u00e9 \u2013 final";
  rich.emMsg = rich_body();
  rich.emAttachments.FilePath = u"MailBox\\Tom\\Attach\\report.doc";
  rich.emDate = -1.25;
  write_seed(root, t, "rich", rich);

  // Damaged files: cut inside the first text box, a list with two dimensions, a list claiming
  // more elements than any file holds.
  const auto example = encode_record(worked_example());
  write_file(root / t / "seed-cut-in-text-box", cut(example, 50));
  write_file(root / t / "seed-two-dimensions", patched(example, 20, {0x02, 0x00}));
  write_file(root / t / "seed-huge-count", patched(example, 22, {0xFF, 0xFF, 0xFF, 0x7F}));
}

void template_seeds(const fs::path& root) {
  const std::string t = "msg_contents";
  write_seed(root, t, "empty", MsgContents{});
  MsgContents sized_empty;
  sized_empty.Texts = List<MsgText>::sized(0);
  sized_empty.Pictures = List<MsgPicture>::sized(0);
  write_seed(root, t, "sized-empty-lists", sized_empty);
  write_seed(root, t, "worked-example-body", worked_example().emMsg);
  write_seed(root, t, "rich", rich_body());
}

LessonChoice choice(Text from, Text subject, Text message) {
  LessonChoice c;
  c.choFrom = std::move(from);
  c.choSubject = std::move(subject);
  c.choMessage = std::move(message);
  return c;
}

void lesson_seeds(const fs::path& root) {
  const std::string t = "email_lesson";
  write_seed(root, t, "empty", EmailLesson{});
  EmailLesson no_steps;
  no_steps.steps = List<LessonStep>::sized(0);
  write_seed(root, t, "sized-no-steps", no_steps);
  EmailLesson two;
  LessonStep first;
  first.Index = 1;
  first.Choices = List<LessonChoice>::sized(
      0, {choice(u"Ann", u"Hello", u"Hi, how are you?"), choice(u"Bob", u"Re: Hello", u"Fine")});
  LessonStep second;
  second.Index = -3;
  second.Choices = List<LessonChoice>::sized(0, {choice(u"Smith, Ann", u"Bye", u"See you\r\nA.")});
  LessonStep unsized_choices;
  unsized_choices.Index = 32767;
  two.steps = List<LessonStep>::sized(1, {first, second, unsized_choices});
  write_seed(root, t, "three-steps", two);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_make_corpus <corpus folder>\n");
    return 2;
  }
  const fs::path root = argv[1];
  email_seeds(root);
  template_seeds(root);
  lesson_seeds(root);
  return 0;
}
