#pragma once
// Conversion between the core's records and the automation records (user-defined types) of the
// type library: BSTR for text, SAFEARRAY for lists (its lower bound kept, NULL for an unsized
// list), nested records by value.
//
// Automation records are freed field by field with clear_udt() and never with the system's
// IRecordInfo::RecordClear/RecordCopy, which mishandle records holding SAFEARRAY fields on
// some platforms. Arrays of records inside a record are freed by clear_udt() too, element by
// element, for the same reason.

#include <windows.h>
#include <ole2.h>

#include "corvane/com/corvane_idl.h"
#include "corvane/model/records.h"

namespace corvane::com {

// Core record from automation record. Throws AutomationError (type mismatch) for arrays of
// the wrong shape or element type.
corvane::SaveableFont from_udt(const ::SaveableFont& u);
corvane::MsgContents from_udt(const ::MsgContents& u);
corvane::EmailMsg from_udt(const ::EmailMsg& u);
corvane::EmailLesson from_udt(const ::EmailLesson& u);
List<Text> text_list_from(SAFEARRAY* array);

// Fills a zeroed automation record from a core record. On failure (out of memory) the record
// is left partly filled; clear_udt() releases it.
void to_udt(const corvane::SaveableFont& c, ::SaveableFont& u);
void to_udt(const corvane::MsgContents& c, ::MsgContents& u);
void to_udt(const corvane::EmailMsg& c, ::EmailMsg& u);
void to_udt(const corvane::EmailLesson& c, ::EmailLesson& u);
// A new SAFEARRAY of BSTR, NULL for an unsized list.
SAFEARRAY* to_safearray(const List<Text>& list);

// Frees everything the record holds and zeroes it.
void clear_udt(::SaveableFont& u) noexcept;
void clear_udt(::MsgContents& u) noexcept;
void clear_udt(::EmailMsg& u) noexcept;
void clear_udt(::EmailLesson& u) noexcept;

// Replaces a caller's in/out e-mail record with `after` when it differs from `before`; the
// new record is built first, so a failure leaves the caller's record as it was. When the two
// are equal the caller's record is not touched.
void write_back(const corvane::EmailMsg& before, const corvane::EmailMsg& after, ::EmailMsg& u);

// The record type GUID of an automation record type.
template <class U>
const GUID& record_guid();

// An automation record owned on the stack: zeroed on creation, cleared on destruction.
template <class U>
class owned_udt {
 public:
  owned_udt() noexcept { ZeroMemory(&value_, sizeof value_); }
  owned_udt(const owned_udt&) = delete;
  owned_udt& operator=(const owned_udt&) = delete;
  ~owned_udt() { clear_udt(value_); }
  U& get() noexcept { return value_; }
  // Moves the record out to the caller, who then owns what it holds.
  void release_to(U& out) noexcept {
    out = value_;
    ZeroMemory(&value_, sizeof value_);
  }

 private:
  U value_;
};

}  // namespace corvane::com
