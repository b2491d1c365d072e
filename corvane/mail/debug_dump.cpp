// Every line ends with CRLF. Entries of the two lists are written line by line; a line whose
// text cannot be built is left out and the walk goes on. A list that was never dimensioned
// shows its heading and nothing else, exactly like a sized list without elements. The text is
// built in one growing buffer, so a body of 100,000 text boxes costs linear time; written to a
// sink, the buffer is handed over and emptied whenever it holds a few complete lines.

#include "corvane/mail/debug_dump.h"

#include <exception>
#include <optional>

#include "corvane/model/error_text.h"
#include "platform/decimal_text.h"
#include "platform/locale_text.h"

namespace corvane {
namespace {

constexpr std::u16string_view kTab = u"\t";
// Rough sizes of one dumped entry, used to reserve the buffer up front.
constexpr std::size_t kPictureChars = 96;
constexpr std::size_t kTextChars = 256;

using platform::append_decimal;

// The locale's Boolean words, looked up once per dump: the lookup is a system call on Windows
// and a large body has hundreds of thousands of Boolean fields.
class BooleanWords {
 public:
  const std::u16string& operator()(Boolean value) {
    auto& slot = value != kFalse ? true_ : false_;
    if (!slot) slot = platform::boolean_text(value != kFalse);
    return *slot;
  }

 private:
  std::optional<std::u16string> true_;
  std::optional<std::u16string> false_;
};

class DumpWriter {
 public:
  explicit DumpWriter(std::u16string& out, const TextSink* sink = nullptr)
      : out_(out), sink_(sink) {}

  // Hands what is buffered to the sink, if there is one.
  void flush() {
    if (sink_ == nullptr || out_.empty()) return;
    (*sink_)(out_);
    out_.clear();
  }

  // Appends one line made of `depth` tabs and the pieces that `build` appends; when building
  // fails the partial line is removed and the dump goes on without it.
  template <class Build>
  void guarded_line(int depth, Build&& build) {
    const std::size_t mark = out_.size();
    try {
      for (int i = 0; i < depth; ++i) out_ += kTab;
      build(out_);
      out_ += kCrLf;
    } catch (const std::exception&) {
      out_.resize(mark);
    }
    flush_when_full();
  }

  void line(std::u16string_view text) {
    out_ += text;
    out_ += kCrLf;
    flush_when_full();
  }

  std::u16string& buffer() { return out_; }
  bool streaming() const { return sink_ != nullptr; }

 private:
  static constexpr std::size_t kPieceChars = 16384;
  void flush_when_full() {
    if (out_.size() >= kPieceChars) flush();
  }

  std::u16string& out_;
  const TextSink* sink_;
};

void dump_picture(DumpWriter& w, BooleanWords& words, int64_t index, const MsgPicture& p) {
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o, index); });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Borders: ", p.Borders); });
  w.guarded_line(1, [&](std::u16string& o) { (o += u"Editable: ") += words(p.Editable); });
  w.guarded_line(1, [&](std::u16string& o) { (o += u"FileName: ") += p.FileName; });
  w.guarded_line(1, [&](std::u16string& o) { o += u"Value cannot be displayed..."; });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"X: ", p.X); });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Y: ", p.Y); });
}

void dump_font(DumpWriter& w, BooleanWords& words, const SaveableFont& f) {
  w.guarded_line(1, [&](std::u16string& o) { o += u"Font "; });
  w.guarded_line(2, [&](std::u16string& o) { (o += u"Bold: ") += words(f.Bold); });
  w.guarded_line(2, [&](std::u16string& o) { (o += u"Charset: ") += f.Charset; });
  w.guarded_line(2, [&](std::u16string& o) { (o += u"FontName: ") += f.FontName; });
  w.guarded_line(2, [&](std::u16string& o) { (o += u"Italic: ") += words(f.Italic); });
  w.guarded_line(2, [&](std::u16string& o) { append_decimal(o += u"Size: ", f.Size); });
  w.guarded_line(2, [&](std::u16string& o) {
    (o += u"StrikeThrough: ") += words(f.Strikethrough);
  });
  w.guarded_line(2, [&](std::u16string& o) { (o += u"Underline: ") += words(f.Underline); });
  w.guarded_line(2, [&](std::u16string& o) { append_decimal(o += u"Weight: ", f.Weight); });
}

void dump_text(DumpWriter& w, BooleanWords& words, int64_t index, const MsgText& t) {
  constexpr std::size_t kValuePreview = 10;
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o, index); });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Colour: ", t.Colour); });
  w.guarded_line(1, [&](std::u16string& o) { (o += u"Editable: ") += words(t.Editable); });
  dump_font(w, words, t.Font);
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Height: ", t.Height); });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Width: ", t.Width); });
  w.guarded_line(1, [&](std::u16string& o) {
    ((o += u"Value: ") += std::u16string_view(t.Value).substr(0, kValuePreview)) += u"...";
  });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"X: ", t.X); });
  w.guarded_line(1, [&](std::u16string& o) { append_decimal(o += u"Y: ", t.Y); });
}

template <class T, class DumpEntry>
void dump_list(DumpWriter& w, BooleanWords& words, const List<T>& list, DumpEntry&& dump_entry) {
  int64_t index = list.lower_bound();
  for (const T& entry : list) dump_entry(w, words, index++, entry);
}

// The template dump written through w, the lines of list entries guarded one by one.
void write_template(DumpWriter& w, const MsgContents& contents) {
  if (!w.streaming()) {
    w.buffer().reserve(w.buffer().size() + 16 + contents.Pictures.size() * kPictureChars +
                       contents.Texts.size() * kTextChars);
  }
  BooleanWords words;
  w.line(u"Pictures");
  dump_list(w, words, contents.Pictures, dump_picture);
  w.line(u"");
  w.line(u"Texts");
  dump_list(w, words, contents.Texts, dump_text);
}

void write_email(DumpWriter& w, const EmailMsg& email) {
  w.line(u"Headers");
  w.line(u"-------");
  w.line(u"emCC: " + email.emCC);
  w.line(u"emDate: " + platform::date_text(email.emDate));
  w.line(u"emFrom: " + email.emFrom);
  write_template(w, email.emMsg);
  w.line(u"");
  w.line(u"emSubject: " + email.emSubject);
  w.line(u"emTo: " + email.emTo);
}

}  // namespace

void write_email_dump(const EmailMsg& email, const TextSink& sink) {
  std::u16string buffer;
  DumpWriter w(buffer, &sink);
  write_email(w, email);
  w.flush();
}

void write_template_dump(const MsgContents& contents, const TextSink& sink) {
  std::u16string buffer;
  DumpWriter w(buffer, &sink);
  write_template(w, contents);
  w.flush();
}

Text debug_template(const MsgContents& contents, Boolean show, Presenter& presenter) {
  return with_library_source([&] {
    Text out;
    DumpWriter w(out);
    write_template(w, contents);
    if (show == kTrue) presenter.show_debug_window(out);
    return out;
  });
}

// The headers around the body's template dump (the text debug_template gives), written into
// one buffer so that a large body is not copied.
Text debug_email(const EmailMsg& email, Boolean show, Presenter& presenter) {
  return with_library_source([&] {
    Text out;
    DumpWriter w(out);
    write_email(w, email);
    if (show == kTrue) presenter.show_debug_window(out);
    return out;
  });
}

}  // namespace corvane
