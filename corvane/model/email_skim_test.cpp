// skim_email must give exactly what decode_record gives (header fields, failure number and
// description) on any bytes: whole, cut, damaged, larger than its window, and the fuzz seeds.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "corvane/model/record_codec.h"
#include "platform/automation_error.h"
#include "tests/support/bytes.h"
#include "tests/support/sample_email.h"

namespace corvane {
namespace {

class VectorSource final : public RecordSource {
 public:
  explicit VectorSource(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  uint64_t size() const override { return bytes_.size(); }
  std::size_t read_at(uint64_t offset, std::span<uint8_t> out) override {
    ++reads;
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::size_t>(out.size(), bytes_.size() - offset);
    std::memcpy(out.data(), bytes_.data() + offset, n);
    return n;
  }
  int reads = 0;

 private:
  const std::vector<uint8_t>& bytes_;
};

struct Outcome {
  EmailMsg email;
  std::optional<platform::AutomationError> failure;
};

Outcome full(const std::vector<uint8_t>& bytes) {
  Outcome o;
  try {
    decode_record(bytes, o.email);
  } catch (const platform::AutomationError& e) {
    o.failure = e;
  }
  return o;
}

Outcome skimmed(const std::vector<uint8_t>& bytes) {
  Outcome o;
  VectorSource source(bytes);
  try {
    skim_email(source, o.email);
  } catch (const platform::AutomationError& e) {
    o.failure = e;
  }
  return o;
}

void expect_same(const std::vector<uint8_t>& bytes, const std::string& what) {
  SCOPED_TRACE(what);
  const Outcome a = full(bytes);
  const Outcome b = skimmed(bytes);
  EXPECT_EQ(a.email.emSignature, b.email.emSignature);
  EXPECT_EQ(a.email.emRead, b.email.emRead);
  EXPECT_EQ(a.email.emTo, b.email.emTo);
  EXPECT_EQ(a.email.emFrom, b.email.emFrom);
  EXPECT_EQ(a.email.emCC, b.email.emCC);
  EXPECT_EQ(a.email.emSubject, b.email.emSubject);
  EXPECT_EQ(a.email.emAttachments.FilePath, b.email.emAttachments.FilePath);
  EXPECT_EQ(std::memcmp(&a.email.emDate, &b.email.emDate, sizeof(Date)), 0);
  EXPECT_EQ(a.email.emMsg.Texts.is_sized(), b.email.emMsg.Texts.is_sized());
  EXPECT_EQ(a.email.emMsg.Pictures.is_sized(), b.email.emMsg.Pictures.is_sized());
  EXPECT_EQ(b.email.emMsg.Texts.size() + b.email.emMsg.Pictures.size(), 0u) << "nothing kept";
  ASSERT_EQ(a.failure.has_value(), b.failure.has_value());
  if (a.failure) {
    EXPECT_EQ(a.failure->number(), b.failure->number());
    EXPECT_EQ(a.failure->description(), b.failure->description());
  }
}

// An e-mail larger than the skimming window, with texts and pictures on both sides of it.
EmailMsg large_email() {
  EmailMsg m = testsupport::sample_email();
  MsgText text;
  text.Font.FontName = u"Arial";
  text.Value = std::u16string(40000, u'v');
  MsgPicture picture;
  picture.FileName = u"beach.bmp";
  picture.Value = List<Byte>::sized(0, std::vector<Byte>(150000, 0x5A));
  m.emMsg.Texts = List<MsgText>::sized(1, {text, text, text});
  m.emMsg.Pictures = List<MsgPicture>::sized(0, {picture, picture});
  return m;
}

TEST(EmailSkim, WholeEmailsGiveTheHeaderFieldsOfTheFullDecode) {
  const std::vector<uint8_t> large = encode_record(large_email());
  expect_same(large, "large");
  expect_same({}, "empty");
  expect_same(encode_record(EmailMsg{}), "empty record");
  VectorSource source(large);
  EmailMsg email;
  skim_email(source, email);
  EXPECT_EQ(email.emAttachments.FilePath, u"C:\\mail\\a.doc");
  EXPECT_LT(source.reads, 10) << "picture bytes are skipped, not read";
}

TEST(EmailSkim, CutAndDamagedEmailsFailOrSucceedExactlyAsTheFullDecode) {
  const std::vector<uint8_t> large = encode_record(large_email());
  for (std::size_t cut : {std::size_t{3}, std::size_t{17}, std::size_t{40}, std::size_t{65535},
                          std::size_t{65536}, std::size_t{100001}, large.size() - 9,
                          large.size() - 1}) {
    expect_same(std::vector<uint8_t>(large.begin(), large.begin() + static_cast<std::ptrdiff_t>(cut)),
                "cut at " + std::to_string(cut));
  }
  // Every byte of a small e-mail with a nested list, set to values that break counts.
  EmailMsg small = large_email();
  small.emMsg.Texts.items()[0].Value = u"hi";
  small.emMsg.Texts.items().resize(1);
  small.emMsg.Pictures.items()[0].Value = List<Byte>::sized(0, {1, 2, 3});
  small.emMsg.Pictures.items().resize(1);
  const std::vector<uint8_t> bytes = encode_record(small);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x02}, uint8_t{0x7F}, uint8_t{0xFF}}) {
      std::vector<uint8_t> damaged = bytes;
      damaged[i] = value;
      expect_same(damaged, "byte " + std::to_string(i) + " = " + std::to_string(value));
    }
  }
  // A count the padding limit cannot honour, after a body larger than the window.
  std::vector<uint8_t> padded = encode_record(large_email());
  padded.resize(padded.size() - 10);  // cut inside the attachment's path
  expect_same(padded, "cut inside a late text");
  const std::vector<uint8_t> huge = testsupport::Bytes()
                                        .u8(0).u8(0).u8(0).u8(0)
                                        .text("bob").text("ann").text("").text("")
                                        .list(0x7FFFFFFF, 0)
                                        .get();
  expect_same(huge, "huge count");
}

#ifdef CORVANE_EMAIL_CORPUS
TEST(EmailSkim, FuzzSeedsGiveTheSameOutcome) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CORVANE_EMAIL_CORPUS)) {
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    expect_same(bytes, entry.path().filename().string());
    ++files;
  }
  EXPECT_GT(files, 0);
}
#endif

}  // namespace
}  // namespace corvane
