#include "corvane/com/udt_convert.h"

#include <type_traits>
#include <utility>
#include <vector>

#include "corvane/com/record_guids.h"
#include "corvane/com/type_library.h"
#include "platform/automation_error.h"

namespace corvane::com {

template <> const GUID& record_guid<::SaveableFont>() { return GUID_SaveableFont; }
template <> const GUID& record_guid<::MsgAttachment>() { return GUID_MsgAttachment; }
template <> const GUID& record_guid<::MsgText>() { return GUID_MsgText; }
template <> const GUID& record_guid<::MsgPicture>() { return GUID_MsgPicture; }
template <> const GUID& record_guid<::MsgContents>() { return GUID_MsgContents; }
template <> const GUID& record_guid<::EmailMsg>() { return GUID_EmailMsg; }
template <> const GUID& record_guid<::LessonChoice>() { return GUID_LessonChoice; }
template <> const GUID& record_guid<::LessonStep>() { return GUID_LessonStep; }
template <> const GUID& record_guid<::EmailLesson>() { return GUID_EmailLesson; }

namespace {

using platform::AutomationError;
namespace errnum = platform::errnum;

// Each record pair lists its fields once; reading, writing and clearing are driven from that
// list. The automation records carry the same field names as the core's.
template <class C, class U, class F>
void each_field(C& c, U& u, F&& f) {
  using R = std::remove_const_t<C>;
  if constexpr (std::is_same_v<R, corvane::SaveableFont>) {
    f(c.FontName, u.FontName), f(c.Charset, u.Charset), f(c.Bold, u.Bold);
    f(c.Underline, u.Underline), f(c.Italic, u.Italic), f(c.Strikethrough, u.Strikethrough);
    f(c.Size, u.Size), f(c.Weight, u.Weight);
  } else if constexpr (std::is_same_v<R, corvane::MsgAttachment>) {
    f(c.FilePath, u.FilePath);
  } else if constexpr (std::is_same_v<R, corvane::MsgText>) {
    f(c.X, u.X), f(c.Y, u.Y), f(c.Editable, u.Editable), f(c.Colour, u.Colour);
    f(c.Font, u.Font), f(c.Value, u.Value), f(c.Width, u.Width), f(c.Height, u.Height);
  } else if constexpr (std::is_same_v<R, corvane::MsgPicture>) {
    f(c.FileName, u.FileName), f(c.X, u.X), f(c.Y, u.Y), f(c.Editable, u.Editable);
    f(c.Borders, u.Borders), f(c.Value, u.Value);
  } else if constexpr (std::is_same_v<R, corvane::MsgContents>) {
    f(c.Texts, u.Texts), f(c.Pictures, u.Pictures);
  } else if constexpr (std::is_same_v<R, corvane::EmailMsg>) {
    f(c.emSignature, u.emSignature), f(c.emRead, u.emRead), f(c.emTo, u.emTo);
    f(c.emFrom, u.emFrom), f(c.emCC, u.emCC), f(c.emSubject, u.emSubject);
    f(c.emMsg, u.emMsg), f(c.emAttachments, u.emAttachments), f(c.emDate, u.emDate);
  } else if constexpr (std::is_same_v<R, corvane::LessonChoice>) {
    f(c.choMessage, u.choMessage), f(c.choSubject, u.choSubject), f(c.choFrom, u.choFrom);
  } else if constexpr (std::is_same_v<R, corvane::LessonStep>) {
    f(c.Choices, u.Choices), f(c.Index, u.Index);
  } else {
    static_assert(std::is_same_v<R, corvane::EmailLesson>);
    f(c.steps, u.steps);
  }
}

// The automation type of a core field or list element.
template <class C> struct udt_of;
template <> struct udt_of<Text> { using type = BSTR; static constexpr VARTYPE vt = VT_BSTR; };
template <> struct udt_of<Byte> { using type = unsigned char; static constexpr VARTYPE vt = VT_UI1; };
#define CORVANE_RECORD_PAIR(R)                     \
  template <> struct udt_of<corvane::R> {          \
    using type = ::R;                              \
    static constexpr VARTYPE vt = VT_RECORD;       \
  };
CORVANE_RECORD_PAIR(SaveableFont)
CORVANE_RECORD_PAIR(MsgAttachment)
CORVANE_RECORD_PAIR(MsgText)
CORVANE_RECORD_PAIR(MsgPicture)
CORVANE_RECORD_PAIR(MsgContents)
CORVANE_RECORD_PAIR(EmailMsg)
CORVANE_RECORD_PAIR(LessonChoice)
CORVANE_RECORD_PAIR(LessonStep)
CORVANE_RECORD_PAIR(EmailLesson)
#undef CORVANE_RECORD_PAIR

template <class C> using udt_t = typename udt_of<C>::type;

template <class T> inline constexpr bool is_list = false;
template <class T> inline constexpr bool is_list<List<T>> = true;

[[noreturn]] void throw_type_mismatch() { throw AutomationError(errnum::kTypeMismatch); }

void check(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) throw AutomationError(errnum::kOutOfMemory);
  if (FAILED(hr)) throw_type_mismatch();
}

// Holds a SAFEARRAY's data locked while its elements are read or written.
class array_data {
 public:
  explicit array_data(SAFEARRAY* array) : array_(array) {
    check(SafeArrayAccessData(array_, &data_));
  }
  array_data(const array_data&) = delete;
  array_data& operator=(const array_data&) = delete;
  ~array_data() { SafeArrayUnaccessData(array_); }
  template <class T>
  T* as() const noexcept {
    return static_cast<T*>(data_);
  }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

ULONG cell_count(const SAFEARRAY* array) noexcept {
  if (array->cDims == 0) return 0;
  ULONG count = 1;
  for (USHORT d = 0; d < array->cDims; ++d) count *= array->rgsabound[d].cElements;
  return count;
}

// Checks that a caller's array is one-dimensional with elements of the expected kind.
void check_shape(SAFEARRAY* array, VARTYPE vt, ULONG element_size, const GUID* record) {
  if (SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != element_size)
    throw_type_mismatch();
  VARTYPE actual = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &actual)) && actual != vt) throw_type_mismatch();
  if (record == nullptr || !(array->fFeatures & FADF_RECORD)) return;
  IRecordInfo* info = nullptr;
  if (FAILED(SafeArrayGetRecordInfo(array, &info)) || info == nullptr) return;
  GUID guid{};
  const HRESULT hr = info->GetGuid(&guid);
  info->Release();
  if (SUCCEEDED(hr) && !IsEqualGUID(guid, *record)) throw_type_mismatch();
}

// ---- declarations of the three overload sets, so that each can recurse into the others ----

void get(const BSTR& u, Text& c);
void get(const unsigned char (&u)[3], Signature& c);
template <class U, class C>
  requires std::is_arithmetic_v<U> && std::is_arithmetic_v<C>
void get(const U& u, C& c);
template <class C>
void get(SAFEARRAY* const& u, List<C>& c);
template <Record C>
void get(const udt_t<C>& u, C& c);

void put(const Text& c, BSTR& u);
void put(const Signature& c, unsigned char (&u)[3]);
template <class C, class U>
  requires std::is_arithmetic_v<U> && std::is_arithmetic_v<C>
void put(const C& c, U& u);
template <class C>
void put(const List<C>& c, SAFEARRAY*& u);
template <Record C>
void put(const C& c, udt_t<C>& u);

void clear(BSTR& u) noexcept;
template <class U>
  requires std::is_arithmetic_v<U> || std::is_array_v<U>
void clear(U&) noexcept;
template <class C>
void clear_as(List<C>*, SAFEARRAY*& u) noexcept;
template <Record C>
void clear_as(C*, udt_t<C>& u) noexcept;

// ---- automation to core ---------------------------------------------------------------------

void get(const BSTR& u, Text& c) {
  c = bstr_text(u);
}

void get(const unsigned char (&u)[3], Signature& c) {
  for (std::size_t i = 0; i < c.size(); ++i) c[i] = u[i];
}

template <class U, class C>
  requires std::is_arithmetic_v<U> && std::is_arithmetic_v<C>
void get(const U& u, C& c) {
  c = static_cast<C>(u);
}

template <class C>
void get(SAFEARRAY* const& u, List<C>& c) {
  using U = udt_t<C>;
  c.reset();
  if (u == nullptr) return;
  const GUID* guid = nullptr;
  if constexpr (Record<C>) guid = &record_guid<U>();
  check_shape(u, udt_of<C>::vt, sizeof(U), guid);
  const ULONG count = u->rgsabound[0].cElements;
  std::vector<C> items(count);
  array_data data(u);
  for (ULONG i = 0; i < count; ++i) get(data.as<U>()[i], items[i]);
  c = List<C>::sized(u->rgsabound[0].lLbound, std::move(items));
}

template <Record C>
void get(const udt_t<C>& u, C& c) {
  each_field(c, u, [](auto& cf, const auto& uf) { get(uf, cf); });
}

// ---- core to automation ---------------------------------------------------------------------

void put(const Text& c, BSTR& u) {
  u = make_bstr(c).release();
}

void put(const Signature& c, unsigned char (&u)[3]) {
  for (std::size_t i = 0; i < c.size(); ++i) u[i] = c[i];
}

template <class C, class U>
  requires std::is_arithmetic_v<U> && std::is_arithmetic_v<C>
void put(const C& c, U& u) {
  u = static_cast<U>(c);
}

template <class C>
SAFEARRAY* create_array(const SAFEARRAYBOUND& bound) {
  if constexpr (Record<C>) {
    auto info = record_info_of(record_guid<udt_t<C>>());
    return SafeArrayCreateEx(VT_RECORD, 1, const_cast<SAFEARRAYBOUND*>(&bound), info.get());
  } else {
    return SafeArrayCreate(udt_of<C>::vt, 1, const_cast<SAFEARRAYBOUND*>(&bound));
  }
}

template <class C>
void put(const List<C>& c, SAFEARRAY*& u) {
  using U = udt_t<C>;
  u = nullptr;
  if (!c.is_sized()) return;
  const SAFEARRAYBOUND bound{static_cast<ULONG>(c.size()), c.lower_bound()};
  u = create_array<C>(bound);
  if (u == nullptr) throw AutomationError(errnum::kOutOfMemory);
  // The new array's elements start zeroed; a failure half-way leaves it for clear() to free.
  array_data data(u);
  for (std::size_t i = 0; i < c.size(); ++i) put(c.items()[i], data.as<U>()[i]);
}

template <Record C>
void put(const C& c, udt_t<C>& u) {
  each_field(c, u, [](const auto& cf, auto& uf) { put(cf, uf); });
}

// ---- freeing --------------------------------------------------------------------------------

void clear(BSTR& u) noexcept {
  SysFreeString(u);
  u = nullptr;
}

template <class U>
  requires std::is_arithmetic_v<U> || std::is_array_v<U>
void clear(U&) noexcept {}

// Destroys an array whose elements are cleared by our own code. For an array of records the
// record information is released here and the array's record flag dropped first, so that the
// system does not clear the (already cleared) elements a second time with its own code.
template <class C>
void clear_as(List<C>*, SAFEARRAY*& u) noexcept {
  using U = udt_t<C>;
  SAFEARRAY* array = std::exchange(u, nullptr);
  if (array == nullptr) return;
  void* raw = nullptr;
  if (SUCCEEDED(SafeArrayAccessData(array, &raw))) {
    const ULONG count = cell_count(array);
    for (ULONG i = 0; i < count; ++i) {
      if constexpr (Record<C>) {
        clear_as(static_cast<C*>(nullptr), static_cast<U*>(raw)[i]);
      } else {
        clear(static_cast<U*>(raw)[i]);
      }
    }
    SafeArrayUnaccessData(array);
  }
  if (array->fFeatures & FADF_RECORD) {
    IRecordInfo* info = nullptr;
    if (SUCCEEDED(SafeArrayGetRecordInfo(array, &info)) && info != nullptr) {
      array->fFeatures &= ~FADF_RECORD;
      info->Release();  // the reference SafeArrayGetRecordInfo added
      info->Release();  // the array's own reference
    }
  }
  SafeArrayDestroy(array);
}

template <Record C>
void clear_as(C*, udt_t<C>& u) noexcept {
  // Only the automation side is cleared; the core record only names the field types.
  static const C tag{};
  each_field(tag, u, [](const auto& cf, auto& uf) {
    using CF = std::remove_cvref_t<decltype(cf)>;
    if constexpr (Record<CF> || is_list<CF>) {
      clear_as(static_cast<CF*>(nullptr), uf);
    } else {
      clear(uf);
    }
  });
}

template <Record C>
C from(const udt_t<C>& u) {
  C c;
  get(u, c);
  return c;
}

}  // namespace

corvane::SaveableFont from_udt(const ::SaveableFont& u) { return from<corvane::SaveableFont>(u); }
corvane::MsgContents from_udt(const ::MsgContents& u) { return from<corvane::MsgContents>(u); }
corvane::EmailMsg from_udt(const ::EmailMsg& u) { return from<corvane::EmailMsg>(u); }
corvane::EmailLesson from_udt(const ::EmailLesson& u) { return from<corvane::EmailLesson>(u); }

List<Text> text_list_from(SAFEARRAY* array) {
  List<Text> list;
  get(array, list);
  return list;
}

void to_udt(const corvane::SaveableFont& c, ::SaveableFont& u) { put(c, u); }
void to_udt(const corvane::MsgContents& c, ::MsgContents& u) { put(c, u); }
void to_udt(const corvane::EmailMsg& c, ::EmailMsg& u) { put(c, u); }
void to_udt(const corvane::EmailLesson& c, ::EmailLesson& u) { put(c, u); }

SAFEARRAY* to_safearray(const List<Text>& list) {
  SAFEARRAY* array = nullptr;
  try {
    put(list, array);
  } catch (...) {
    clear_as(static_cast<List<Text>*>(nullptr), array);
    throw;
  }
  return array;
}

void clear_udt(::SaveableFont& u) noexcept { clear_as(static_cast<corvane::SaveableFont*>(nullptr), u); }
void clear_udt(::MsgContents& u) noexcept { clear_as(static_cast<corvane::MsgContents*>(nullptr), u); }
void clear_udt(::EmailMsg& u) noexcept { clear_as(static_cast<corvane::EmailMsg*>(nullptr), u); }
void clear_udt(::EmailLesson& u) noexcept { clear_as(static_cast<corvane::EmailLesson*>(nullptr), u); }

void write_back(const corvane::EmailMsg& before, const corvane::EmailMsg& after, ::EmailMsg& u) {
  if (before == after) return;
  // The new record is built aside first, so that a failure leaves the caller's record intact.
  owned_udt<::EmailMsg> fresh;
  to_udt(after, fresh.get());
  clear_udt(u);
  fresh.release_to(u);
}

}  // namespace corvane::com
