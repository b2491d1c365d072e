#include "corvane/com/udt_convert.h"

#include <stdexcept>
#include <string>
#include <type_traits>
#include <typeinfo>
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

// The automation type of a core field or list element.
template <class C> struct udt_of;
template <> struct udt_of<Text> { using type = BSTR; static constexpr VARTYPE vt = VT_BSTR; };
template <> struct udt_of<Byte> { using type = unsigned char; static constexpr VARTYPE vt = VT_UI1; };
template <> struct udt_of<int16_t> { using type = SHORT; };
template <> struct udt_of<Long> { using type = LONG; };
template <> struct udt_of<Date> { using type = DATE; };
template <> struct udt_of<Signature> { using type = unsigned char[3]; };
template <class T> struct udt_of<List<T>> { using type = SAFEARRAY*; };
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

// ---- the field walk -------------------------------------------------------------------------
//
// A record pair is walked field by field in the order of the core record's field list
// (for_each_field). The automation record is the type library's C struct, whose fields come in
// the same order (the type library test holds the two lists against each other); its fields
// are found by position, and the type of each follows from the core field's type (udt_t).
// Where each field lies is read once per record type with a structured binding, and checked
// then against the core's list: same number of fields, each of the expected type. A mismatch
// is a build defect and fails the first conversion of the record type.

// Converts to anything; only used to count the fields an aggregate takes.
struct any_value {
  template <class T>
  operator T() const;
};

// The number of fields of an automation record: the most braced initializers it accepts.
template <class U, class... Taken>
constexpr std::size_t field_count() {
  if constexpr (requires { U{{Taken{}}..., {any_value{}}}; }) {
    return field_count<U, Taken..., any_value>();
  } else {
    return sizeof...(Taken);
  }
}

struct FieldPlace {
  std::size_t offset;
  const std::type_info* type;
};

template <class U, class... Fields>
std::vector<FieldPlace> places_of(const U& u, const Fields&... fields) {
  const auto* base = reinterpret_cast<const char*>(&u);
  return {FieldPlace{static_cast<std::size_t>(reinterpret_cast<const char*>(&fields) - base),
                     &typeid(fields)}...};
}

// Where the fields of an automation record lie, in declaration order.
template <class U>
std::vector<FieldPlace> places_in(const U& u) {
  constexpr std::size_t n = field_count<U>();
  static_assert(n >= 1 && n <= 9, "records have one to nine fields");
#define CORVANE_PLACES(...)        \
  const auto& [__VA_ARGS__] = u;   \
  return places_of(u, __VA_ARGS__)
  if constexpr (n == 1) { CORVANE_PLACES(a); }
  else if constexpr (n == 2) { CORVANE_PLACES(a, b); }
  else if constexpr (n == 3) { CORVANE_PLACES(a, b, c); }
  else if constexpr (n == 4) { CORVANE_PLACES(a, b, c, d); }
  else if constexpr (n == 5) { CORVANE_PLACES(a, b, c, d, e); }
  else if constexpr (n == 6) { CORVANE_PLACES(a, b, c, d, e, f); }
  else if constexpr (n == 7) { CORVANE_PLACES(a, b, c, d, e, f, g); }
  else if constexpr (n == 8) { CORVANE_PLACES(a, b, c, d, e, f, g, h); }
  else { CORVANE_PLACES(a, b, c, d, e, f, g, h, i); }
#undef CORVANE_PLACES
}

// The offsets of the automation record's fields, in the order of the core's field list.
template <Record C>
std::vector<std::size_t> field_offsets() {
  using U = udt_t<C>;
  const U sample{};
  const std::vector<FieldPlace> places = places_in(sample);
  std::vector<std::size_t> offsets;
  C record{};
  C::for_each_field(record, [&](const char* name, const auto& field) {
    using UF = udt_t<std::remove_cvref_t<decltype(field)>>;
    const std::size_t i = offsets.size();
    if (i >= places.size() || *places[i].type != typeid(UF))
      throw std::logic_error(std::string("automation record field differs: ") + name);
    offsets.push_back(places[i].offset);
  });
  if (offsets.size() != places.size()) throw std::logic_error("automation record has more fields");
  return offsets;
}

template <Record C>
const std::vector<std::size_t>& offsets_of() {
  static const std::vector<std::size_t> offsets = field_offsets<C>();
  return offsets;
}

// Calls f(core field, automation field) for every field of a record pair.
template <class C, class U, class F>
void each_field(C& c, U& u, F&& f) {
  using R = std::remove_const_t<C>;
  using Base = std::conditional_t<std::is_const_v<U>, const char, char>;
  const std::vector<std::size_t>& offsets = offsets_of<R>();
  Base* base = reinterpret_cast<Base*>(&u);
  std::size_t i = 0;
  R::for_each_field(c, [&](const char*, auto& cf) {
    using UF = udt_t<std::remove_cvref_t<decltype(cf)>>;
    using Field = std::conditional_t<std::is_const_v<U>, const UF, UF>;
    f(cf, *reinterpret_cast<Field*>(base + offsets[i++]));
  });
}

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
