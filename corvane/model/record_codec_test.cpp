#include "corvane/model/record_codec.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/automation_error.h"
#include "tests/support/bytes.h"
#include "tests/support/error_of.h"

namespace corvane {
namespace {

using testsupport::Bytes;

EmailMsg worked_example() {
  EmailMsg m;
  m.emSignature = {0x11, 0x22, 0x33};
  m.emTo = u"Tom";
  m.emFrom = u"Ann";
  m.emSubject = u"Hi";
  MsgText box;
  box.X = 10;
  box.Y = 20;
  box.Editable = kTrue;
  box.Colour = 255;
  box.Font.FontName = u"Arial";
  box.Font.Charset = u"0";
  box.Font.Size = 12;
  box.Font.Weight = 400;
  box.Value = u"Hello";
  box.Width = 100;
  box.Height = 50;
  m.emMsg.Texts = List<MsgText>::sized(0, {box});
  m.emDate = 38353.5;
  return m;
}

const std::vector<uint8_t> kWorkedExampleBytes = {
    0x11, 0x22, 0x33, 0x00, 0x03, 0x00, 0x54, 0x6F, 0x6D, 0x03, 0x00, 0x41, 0x6E, 0x6E,
    0x00, 0x00, 0x02, 0x00, 0x48, 0x69, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00,
    0x00, 0x00, 0x05, 0x00, 0x41, 0x72, 0x69, 0x61, 0x6C, 0x01, 0x00, 0x30, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x90, 0x01, 0x05, 0x00, 0x48, 0x65,
    0x6C, 0x6C, 0x6F, 0x64, 0x00, 0x00, 0x00, 0x32, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x30, 0xBA, 0xE2, 0x40};

template <class R>
R decoded(const std::vector<uint8_t>& bytes) {
  R record{};
  decode_record(bytes, record);
  return record;
}

// The error number decoding raises, 0 when none; the record keeps what was decoded before.
template <class R>
int error_of(const std::vector<uint8_t>& bytes, R& record) {
  return testsupport::error_of([&] { decode_record(bytes, record); });
}

// A record and the bytes other programs read and write for it: encoded byte for byte, and
// decoded back equal (list equality counts sized or not, the lower bound and the elements).
struct Exact {
  const char* what;
  std::function<std::vector<uint8_t>()> encode;
  std::function<bool(const std::vector<uint8_t>&)> decodes_back;
  std::vector<uint8_t> bytes;
};

template <class R>
Exact exact(const char* what, R record, std::vector<uint8_t> bytes) {
  return {what, [record] { return encode_record(record); },
          [record](const std::vector<uint8_t>& b) { return decoded<R>(b) == record; },
          std::move(bytes)};
}

TEST(RecordEncoding, RecordsAreStoredByteExactAndDecodeBackEqual) {
  // Other programs read these files: the four style flags must stay in their order. One box is
  // bold and italic, the other bold and underlined, so that any two flags exchanged show.
  MsgText bold_italic, bold_underlined;
  bold_italic.Font = SaveableFont{u"Arial", u"0", kTrue, kFalse, kTrue, kFalse, 12, 700};
  bold_underlined.X = 5;
  bold_underlined.Font = SaveableFont{u"Tahoma", u"238", kTrue, kTrue, kFalse, kFalse, 9, 700};
  bold_underlined.Value = u"x";
  MsgPicture p;
  p.FileName = u"cat.gif";
  p.X = -5;
  p.Editable = 1;  // neither True nor False: kept as stored
  p.Borders = 200;
  p.Value = List<Byte>::sized(-2, {0, 1, 2, 255});
  LessonStep step;
  step.Index = 1;
  step.Choices = List<LessonChoice>::sized(0, {LessonChoice{}});

  const Exact cases[] = {
      exact("worked example, pictures still unsized", worked_example(), kWorkedExampleBytes),
      // 4 signature/read bytes, four empty texts, two unsized list headers, the empty
      // attachment path and the date.
      exact("empty e-mail", EmailMsg{}, std::vector<uint8_t>(26, 0)),
      exact("font style flags", MsgContents{List<MsgText>::sized(0, {bold_italic, bold_underlined}), {}},
            Bytes()
                .list(2, 0)
                .i32(0).i32(0).i16(0).i32(0)
                .text("Arial").text("0").i16(-1).i16(0).i16(-1).i16(0).i16(12).i16(700)
                .text("").i32(0).i32(0)
                .i32(5).i32(0).i16(0).i32(0)
                .text("Tahoma").text("238").i16(-1).i16(-1).i16(0).i16(0).i16(9).i16(700)
                .text("x").i32(0).i32(0)
                .unsized()),
      exact("sized empty list keeps its header and lower bound",
            MsgContents{List<MsgText>::sized(3), {}}, Bytes().list(0, 3).unsized()),
      exact("picture bytes and an odd boolean", MsgContents{{}, List<MsgPicture>::sized(0, {p})},
            Bytes().unsized().list(1, 0).text("cat.gif").i32(-5).i32(0).i16(1).u8(200)
                .list(4, -2).u8(0).u8(1).u8(2).u8(255)),
      exact("lesson of one step", EmailLesson{List<LessonStep>::sized(0, {step})},
            Bytes().list(1, 0).list(1, 0).text("").text("").text("").i16(1)),
      exact("empty lesson", EmailLesson{}, {0, 0}),
      exact("lower bound one, three steps",
            EmailLesson{List<LessonStep>::sized(1, {LessonStep{{}, 4}, LessonStep{{}, -3}, LessonStep{}})},
            Bytes().list(3, 1).unsized().i16(4).unsized().i16(-3).unsized().i16(0)),
  };
  for (const Exact& c : cases) {
    EXPECT_EQ(c.encode(), c.bytes) << c.what;
    EXPECT_TRUE(c.decodes_back(c.bytes)) << c.what;
  }
}

TEST(RecordEncoding, TextLengthCountsConvertedBytes) {
  EmailMsg m;
  m.emTo = std::u16string(255, u'\u00e9');
  const auto bytes = encode_record(m);
  EXPECT_EQ(bytes[4], 0xFF);
  EXPECT_EQ(bytes[5], 0x00);
  EXPECT_EQ(decoded<EmailMsg>(bytes).emTo, m.emTo);
}

TEST(RecordEncoding, UnrepresentableCharactersComeBackAsTheirReplacements) {
  EmailMsg m;
  m.emSubject = u"\u0141\u00f3d\u017a \u4e2d";
  EXPECT_EQ(decoded<EmailMsg>(encode_record(m)).emSubject, u"L\u00f3dz ?");
}

TEST(RecordEncoding, TextsLongerThanACountedTextCanHoldFailInsteadOfTruncating) {
  EmailMsg m;
  m.emMsg.Texts = List<MsgText>::sized(0, {MsgText{}});
  m.emMsg.Texts.at(0).Value = std::u16string(65535, u'a');
  EXPECT_NO_THROW(encode_record(m));
  m.emMsg.Texts.at(0).Value += u'a';
  EXPECT_EQ(testsupport::error_of([&] { encode_record(m); }), platform::errnum::kBadRecordLength);
}

// --- Early end of data -------------------------------------------------------------------

TEST(EarlyEnd, ZeroLengthDataIsTheEmptyRecord) {
  EXPECT_EQ(decoded<EmailMsg>({}), EmailMsg{});
  EXPECT_EQ(decoded<MsgContents>({}), MsgContents{});
  EXPECT_EQ(decoded<EmailLesson>({}), EmailLesson{});
}

TEST(EarlyEnd, EveryPrefixOfTheWorkedExampleDecodesWithoutFailure) {
  for (std::size_t n = 0; n <= kWorkedExampleBytes.size(); ++n) {
    std::vector<uint8_t> prefix(kWorkedExampleBytes.begin(),
                                kWorkedExampleBytes.begin() + static_cast<std::ptrdiff_t>(n));
    EmailMsg m;
    EXPECT_NO_THROW(decode_record(prefix, m)) << "prefix of " << n << " bytes";
  }
}

TEST(EarlyEnd, CutAtAFieldBoundaryKeepsEarlierFieldsAndEmptiesTheRest) {
  // Signature, read flag, emTo and emFrom only.
  std::vector<uint8_t> cut(kWorkedExampleBytes.begin(), kWorkedExampleBytes.begin() + 14);
  const auto m = decoded<EmailMsg>(cut);
  EXPECT_EQ(m.emTo, u"Tom");
  EXPECT_EQ(m.emFrom, u"Ann");
  EXPECT_EQ(m.emSubject, u"");
  EXPECT_FALSE(m.emMsg.Texts.is_sized());
  EXPECT_EQ(m.emDate, 0.0);
}

TEST(EarlyEnd, FieldCutInTheMiddleKeepsThePresentBytes) {
  // A number keeps its low-order bytes; a text keeps the characters present.
  EXPECT_EQ(decoded<LessonStep>(Bytes().unsized().u8(0x05)).Index, 5);
  const auto m = decoded<EmailMsg>(Bytes().u32(0).text("Tom").u16(10).u8('A').u8('n'));
  EXPECT_EQ(m.emTo, u"Tom");
  EXPECT_EQ(m.emFrom, u"An");
}

TEST(EarlyEnd, ListElementsBeyondTheEndAreEmpty) {
  // Three steps promised, one present: the other two are empty steps.
  const auto lesson = decoded<EmailLesson>(Bytes().list(3, 1).unsized().i16(9));
  ASSERT_EQ(lesson.steps.size(), 3u);
  EXPECT_EQ(lesson.steps.at(1).Index, 9);
  EXPECT_EQ(lesson.steps.at(3), LessonStep{});
  // A picture cut inside its bytes keeps its length, zero-filled.
  MsgContents c;
  decode_record(Bytes().unsized().list(1, 0).text("p").i32(1).i32(2).i16(0).u8(0).list(6, 0)
                    .u8(1).u8(2)
                    .get(),
                c);
  EXPECT_EQ(c.Pictures.at(0).Value, List<Byte>::sized(0, {1, 2, 0, 0, 0, 0}));
}

// --- Damaged data ------------------------------------------------------------------------

TEST(DamagedData, DimensionCountAboveOneFailsAndKeepsWhatWasDecoded) {
  EmailMsg m;
  EXPECT_EQ(error_of(Bytes().u32(0).text("Tom").text("Ann").text("").text("").u16(2).u32(1).i32(0),
                     m),
            platform::errnum::kBadRecordLength);
  EXPECT_EQ(m.emTo, u"Tom");
  EXPECT_EQ(m.emFrom, u"Ann");
}

TEST(DamagedData, HugeElementCountsFailWithoutAllocatingThem) {
  const std::vector<std::vector<uint8_t>> hostile = {
      Bytes().list(0xFFFFFFFF, 0),                           // steps
      Bytes().list(1, 0).list(0xFFFFFFFF, 0),                // choices of one step
  };
  for (const auto& bytes : hostile) {
    EmailLesson lesson;
    EXPECT_EQ(error_of(bytes, lesson), platform::errnum::kOutOfMemory);
  }
  MsgContents c;  // the bytes of a picture
  EXPECT_EQ(error_of(Bytes().unsized().list(1, 0).text("").i32(0).i32(0).i16(0).u8(0)
                         .list(0xFFFFFFFF, 0), c),
            platform::errnum::kOutOfMemory);
}

TEST(DamagedData, AFewBytesCannotDecodeIntoMillionsOfEmptyElements) {
  // 100,000 pictures promised by a 12-byte file: refused, not padded.
  MsgContents c;
  EXPECT_EQ(error_of(Bytes().unsized().list(100000, 0), c), platform::errnum::kOutOfMemory);
  // A picture cut half-way while it was written still decodes, zero-filled.
  std::vector<uint8_t> half(1u << 20, 0x5A);
  MsgContents big;
  decode_record(Bytes().unsized().list(1, 0).text("p").i32(0).i32(0).i16(0).u8(0)
                    .list(2u << 20, 0).append(half).get(),
                big);
  EXPECT_EQ(big.Pictures.at(0).Value.size(), 2u << 20);
  EXPECT_EQ(big.Pictures.at(0).Value.at(0), 0x5A);
  EXPECT_EQ(big.Pictures.at(0).Value.at((2 << 20) - 1), 0);
}

}  // namespace
}  // namespace corvane
