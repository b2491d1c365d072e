#pragma once
// The record types of the object model, fields in declaration order. That order is the order
// of the file encoding, so each record lists its fields exactly once, in for_each_field(), and
// encoding, decoding and the test printers are driven from that list; equality is the
// member-wise default.
//
// Booleans are 16-bit values kept as stored (0 False, -1 True, anything else preserved);
// Dates are OLE automation dates (days since 30 December 1899).

#include <array>
#include <cstdint>
#include <string>

#include "corvane/model/list.h"

namespace corvane {

using Text = std::u16string;
using Boolean = int16_t;
using Integer = int16_t;
using Long = int32_t;
using Byte = uint8_t;
using Date = double;
using Signature = std::array<Byte, 3>;

inline constexpr Boolean kTrue = -1;
inline constexpr Boolean kFalse = 0;

// for_each_field(record, f) calls f(name, field) for every field in declaration order, for
// const and non-const records alike.

struct SaveableFont {
  Text FontName;
  Text Charset;
  Boolean Bold = 0;
  Boolean Underline = 0;
  Boolean Italic = 0;
  Boolean Strikethrough = 0;
  Integer Size = 0;
  Integer Weight = 0;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("FontName", s.FontName);
    f("Charset", s.Charset);
    f("Bold", s.Bold);
    f("Underline", s.Underline);
    f("Italic", s.Italic);
    f("Strikethrough", s.Strikethrough);
    f("Size", s.Size);
    f("Weight", s.Weight);
  }
  friend bool operator==(const SaveableFont&, const SaveableFont&) = default;
};

struct MsgAttachment {
  Text FilePath;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("FilePath", s.FilePath);
  }
  friend bool operator==(const MsgAttachment&, const MsgAttachment&) = default;
};

struct MsgText {
  Long X = 0;
  Long Y = 0;
  Boolean Editable = 0;
  Long Colour = 0;
  SaveableFont Font;
  Text Value;
  Long Width = 0;
  Long Height = 0;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("X", s.X);
    f("Y", s.Y);
    f("Editable", s.Editable);
    f("Colour", s.Colour);
    f("Font", s.Font);
    f("Value", s.Value);
    f("Width", s.Width);
    f("Height", s.Height);
  }
  friend bool operator==(const MsgText&, const MsgText&) = default;
};

struct MsgPicture {
  Text FileName;
  Long X = 0;
  Long Y = 0;
  Boolean Editable = 0;
  Byte Borders = 0;
  List<Byte> Value;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("FileName", s.FileName);
    f("X", s.X);
    f("Y", s.Y);
    f("Editable", s.Editable);
    f("Borders", s.Borders);
    f("Value", s.Value);
  }
  friend bool operator==(const MsgPicture&, const MsgPicture&) = default;
};

struct MsgContents {
  List<MsgText> Texts;
  List<MsgPicture> Pictures;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("Texts", s.Texts);
    f("Pictures", s.Pictures);
  }
  friend bool operator==(const MsgContents&, const MsgContents&) = default;
};

struct EmailMsg {
  Signature emSignature{};
  Byte emRead = 0;
  Text emTo;
  Text emFrom;
  Text emCC;
  Text emSubject;
  MsgContents emMsg;
  MsgAttachment emAttachments;
  Date emDate = 0.0;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("emSignature", s.emSignature);
    f("emRead", s.emRead);
    f("emTo", s.emTo);
    f("emFrom", s.emFrom);
    f("emCC", s.emCC);
    f("emSubject", s.emSubject);
    f("emMsg", s.emMsg);
    f("emAttachments", s.emAttachments);
    f("emDate", s.emDate);
  }
  friend bool operator==(const EmailMsg&, const EmailMsg&) = default;
};

struct LessonChoice {
  Text choMessage;
  Text choSubject;
  Text choFrom;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("choMessage", s.choMessage);
    f("choSubject", s.choSubject);
    f("choFrom", s.choFrom);
  }
  friend bool operator==(const LessonChoice&, const LessonChoice&) = default;
};

struct LessonStep {
  List<LessonChoice> Choices;
  Integer Index = 0;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("Choices", s.Choices);
    f("Index", s.Index);
  }
  friend bool operator==(const LessonStep&, const LessonStep&) = default;
};

struct EmailLesson {
  List<LessonStep> steps;

  template <class Self, class F>
  static void for_each_field(Self& s, F&& f) {
    f("steps", s.steps);
  }
  friend bool operator==(const EmailLesson&, const EmailLesson&) = default;
};

// True for the record types above (they declare for_each_field).
template <class T>
concept Record = requires(T& t) { T::for_each_field(t, [](const char*, auto&) {}); };

}  // namespace corvane
