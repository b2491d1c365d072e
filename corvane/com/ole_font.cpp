#include "corvane/com/ole_font.h"

#include "corvane/com/com_error.h"
#include "corvane/com/type_library.h"
#include "platform/automation_error.h"

namespace corvane::com {
namespace {

// Dispatch identifiers of the standard font's properties.
constexpr DISPID kName = 0, kSize = 2, kBold = 3, kItalic = 4, kUnderline = 5,
                 kStrikethrough = 6, kWeight = 7, kCharset = 8;

// The font class's programmatic identifier: the source of a failure the font reports
// without naming one.
constexpr char16_t kFontSource[] = u"StdFont";

// The runtime's number for a failure a dispatch call reports as a result code: a value the
// property cannot take is a type mismatch or an overflow, as for the runtime's own coercions.
int32_t error_number_of(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH: return platform::errnum::kTypeMismatch;
    case DISP_E_OVERFLOW: return platform::errnum::kOverflow;
    default: return number_of(hr);
  }
}

// Turns a failed property call into the error the font object reported, with the font's own
// source: the failure is the font's, not the library's.
[[noreturn]] void throw_call_failed(HRESULT hr, EXCEPINFO& info) {
  if (hr == DISP_E_EXCEPTION && info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
  unique_bstr source(info.bstrSource);
  unique_bstr description(info.bstrDescription);
  unique_bstr help(info.bstrHelpFile);
  if (hr == DISP_E_EXCEPTION) hr = info.scode ? info.scode : hresult_of(info.wCode);
  std::u16string from = bstr_text(source.get());
  if (from.empty()) from = kFontSource;
  throw platform::AutomationError(error_number_of(hr), bstr_text(description.get()),
                                  std::move(from));
}

class OleFontFactory final : public FontFactory {
 public:
  std::unique_ptr<FontObject> create() override {
    FONTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.lpstrName = const_cast<LPOLESTR>(L"MS Sans Serif");
    desc.cySize.int64 = 82500;
    desc.sWeight = FW_NORMAL;
    desc.sCharset = ANSI_CHARSET;
    com_ptr<IDispatch> font;
    throw_if_failed(OleCreateFontIndirect(&desc, IID_IDispatch, font.put_void()),
                    L"OleCreateFontIndirect");
    return std::make_unique<OleFont>(std::move(font));
  }
};

}  // namespace

com_ptr<IFontDisp> OleFont::font_disp() const { return font_.query<IFontDisp>(IID_IFontDisp); }

VARIANT OleFont::get(DISPID id, VARTYPE type) const {
  DISPPARAMS none{};
  unique_variant result;
  EXCEPINFO info{};
  const HRESULT hr = font_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                   &none, result.get(), &info, nullptr);
  if (FAILED(hr)) throw_call_failed(hr, info);
  if (V_VT(result.get()) != type) {
    const HRESULT changed = VariantChangeType(result.get(), result.get(), 0, type);
    if (FAILED(changed)) throw platform::AutomationError(number_of(changed));
  }
  return result.release();
}

void OleFont::set(DISPID id, VARIANT value) {
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&value, &put, 1, 1};
  EXCEPINFO info{};
  const HRESULT hr = font_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT,
                                   &params, nullptr, &info, nullptr);
  VariantClear(&value);
  if (FAILED(hr)) throw_call_failed(hr, info);
}

namespace {
VARIANT make_bool(bool value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}
VARIANT make_i2(int16_t value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I2;
  V_I2(&v) = value;
  return v;
}
}  // namespace

std::u16string OleFont::name() const {
  VARIANT v = get(kName, VT_BSTR);
  const unique_bstr text(V_BSTR(&v));
  return bstr_text(text.get());
}

void OleFont::set_name(const std::u16string& name) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = make_bstr(name).release();
  set(kName, v);
}

int64_t OleFont::size_cy() const {
  VARIANT v = get(kSize, VT_CY);
  return V_CY(&v).int64;
}

void OleFont::set_size_cy(int64_t size) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_CY;
  V_CY(&v).int64 = size;
  set(kSize, v);
}

bool OleFont::get_bool(DISPID id) const {
  VARIANT v = get(id, VT_BOOL);
  return V_BOOL(&v) != VARIANT_FALSE;
}

int16_t OleFont::get_i2(DISPID id) const {
  VARIANT v = get(id, VT_I2);
  return V_I2(&v);
}

bool OleFont::bold() const { return get_bool(kBold); }
void OleFont::set_bold(bool bold) { set(kBold, make_bool(bold)); }
bool OleFont::italic() const { return get_bool(kItalic); }
void OleFont::set_italic(bool italic) { set(kItalic, make_bool(italic)); }
bool OleFont::underline() const { return get_bool(kUnderline); }
void OleFont::set_underline(bool underline) { set(kUnderline, make_bool(underline)); }
bool OleFont::strikethrough() const { return get_bool(kStrikethrough); }
void OleFont::set_strikethrough(bool strikethrough) {
  set(kStrikethrough, make_bool(strikethrough));
}
int16_t OleFont::weight() const { return get_i2(kWeight); }
void OleFont::set_weight(int16_t weight) { set(kWeight, make_i2(weight)); }
int16_t OleFont::charset() const { return get_i2(kCharset); }
void OleFont::set_charset(int16_t charset) { set(kCharset, make_i2(charset)); }

void OleFont::set_charset_text(std::u16string_view text) {
  // The conversion a font's property put makes of a text, done here with the system's own
  // coercion, since not every font object converts a text given to Charset.
  const unique_bstr value = make_bstr(text);
  SHORT number = 0;
  const HRESULT hr = VarI2FromStr(value.get(), LOCALE_USER_DEFAULT, 0, &number);
  if (FAILED(hr)) throw platform::AutomationError(error_number_of(hr), {}, kFontSource);
  set_charset(number);
}

std::unique_ptr<FontObject> wrap_ole_font(IDispatch* font) {
  if (font == nullptr) return nullptr;
  return std::make_unique<OleFont>(com_ptr<IDispatch>::copy(font));
}

std::shared_ptr<FontFactory> make_ole_font_factory() { return std::make_shared<OleFontFactory>(); }

}  // namespace corvane::com
