// Walks the type library embedded in Corvane.dll and checks it against the interface that
// existing clients are bound to: identities, flags, members in function-table order with their
// dispatch identifiers, parameter names and directions, and every record's identifier and
// fields against the core's field lists.

#include <gtest/gtest.h>

#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "com_test_support.h"
#include "corvane/com/record_guids.h"
#include "platform/decimal_text.h"

namespace {

using namespace comtest;

com_ptr<ITypeLib> load_library() {
  com_ptr<ITypeLib> lib;
  EXPECT_EQ(LoadTypeLibEx(dll_path().c_str(), REGKIND_NONE, lib.put()), S_OK);
  return lib;
}

std::u16string name_of(ITypeInfo* info, MEMBERID id = MEMBERID_NIL) {
  unique_bstr name;
  info->GetDocumentation(id, name.put(), nullptr, nullptr, nullptr);
  return text(name.get());
}

// The name of the type a TYPEDESC refers to (for user-defined types), else empty.
std::u16string referenced_name(ITypeInfo* info, const TYPEDESC& desc, GUID* guid = nullptr) {
  const TYPEDESC* t = &desc;
  while (t->vt == VT_PTR || t->vt == VT_SAFEARRAY) t = t->lptdesc;
  if (t->vt != VT_USERDEFINED) return {};
  com_ptr<ITypeInfo> ref;
  if (FAILED(info->GetRefTypeInfo(t->hreftype, ref.put()))) return u"?";
  if (guid) {
    // Follow a public alias (stdole's IFontDisp names its Font) to the type itself.
    TYPEATTR* attr = nullptr;
    ref->GetTypeAttr(&attr);
    if (attr->typekind == TKIND_ALIAS && attr->tdescAlias.vt == VT_USERDEFINED) {
      const HREFTYPE aliased = attr->tdescAlias.hreftype;
      ref->ReleaseTypeAttr(attr);
      com_ptr<ITypeInfo> target;
      ref->GetRefTypeInfo(aliased, target.put());
      target->GetTypeAttr(&attr);
      *guid = attr->guid;
      target->ReleaseTypeAttr(attr);
    } else {
      *guid = attr->guid;
      ref->ReleaseTypeAttr(attr);
    }
  }
  return name_of(ref.get());
}

// A type as the interface declares it: "BSTR", "short*", "SAFEARRAY(BSTR)*", "EmailMsg*"; the
// standard font's dispatch interface, whatever the system's stdole names it, is "IFontDisp".
std::u16string type_text(ITypeInfo* info, const TYPEDESC& t) {
  GUID guid{};
  switch (t.vt) {
    case VT_PTR: return type_text(info, *t.lptdesc) + u"*";
    case VT_SAFEARRAY: return u"SAFEARRAY(" + type_text(info, *t.lptdesc) + u")";
    case VT_USERDEFINED: {
      const std::u16string name = referenced_name(info, t, &guid);
      return IsEqualGUID(guid, IID_IFontDisp) ? u"IFontDisp" : name;
    }
    case VT_BSTR: return u"BSTR";
    case VT_I2: return u"short";
    case VT_BOOL: return u"VARIANT_BOOL";
    case VT_VARIANT: return u"VARIANT";
    default: return u"vt " + platform::decimal_text(t.vt);
  }
}

struct Param {
  std::u16string name;
  USHORT flags;  // PARAMFLAG_ in/out/retval/opt
  std::u16string type;
};

struct Member {
  std::u16string name;
  MEMBERID id;
  INVOKEKIND kind;
  std::vector<Param> params;
};

constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL,
                 kInOut = PARAMFLAG_FIN | PARAMFLAG_FOUT,
                 kOpt = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
const std::u16string kBstr = u"BSTR", kBoolResult = u"VARIANT_BOOL*";

const std::vector<Member>& expected_members() {
  static const std::vector<Member> members = {
      {u"ErrorString", 0x40030000, INVOKE_PROPERTYGET, {{u"ErrorString", kRet, u"BSTR*"}}},
      {u"ErrorString", 0x40030000, INVOKE_PROPERTYPUT, {{u"ErrorString", kIn, kBstr}}},
      {u"ConvertLesson2CSV", 0x60030000, INVOKE_FUNC,
       {{u"LessonPath", kIn, kBstr}, {u"CSVPath", kIn, kBstr}, {u"", kRet, kBoolResult}}},
      {u"ConvertCSV2Lesson", 0x60030001, INVOKE_FUNC,
       {{u"CSVPath", kIn, kBstr}, {u"LessonPath", kIn, kBstr}, {u"", kRet, kBoolResult}}},
      {u"findLessonIndex", 0x60030002, INVOKE_FUNC,
       {{u"elePatient", kInOut, u"EmailLesson*"}, {u"Key", kIn, u"short"}, {u"", kRet, u"short*"}}},
      {u"SplitCSVLine", 0x60030003, INVOKE_FUNC,
       {{u"strLine", kIn, kBstr}, {u"", kRet, u"SAFEARRAY(BSTR)*"}}},
      {u"ConvertFont", 0x60030005, INVOKE_FUNC,
       {{u"argFont", kIn, u"IFontDisp*"}, {u"", kRet, u"SaveableFont*"}}},
      {u"RetrieveFont", 0x60030006, INVOKE_FUNC,
       {{u"argFont", kInOut, u"SaveableFont*"}, {u"", kRet, u"IFontDisp**"}}},
      {u"SaveEmail", 0x60030007, INVOKE_FUNC,
       {{u"strPath", kIn, kBstr}, {u"Email", kInOut, u"EmailMsg*"}, {u"", kRet, kBoolResult}}},
      {u"OpenEmail", 0x60030008, INVOKE_FUNC, {{u"strPath", kIn, kBstr}, {u"", kRet, u"EmailMsg*"}}},
      {u"AddAttachment", 0x60030009, INVOKE_FUNC,
       {{u"strOriginalPath", kIn, kBstr}, {u"strNewPath", kIn, kBstr},
        {u"Email", kInOut, u"EmailMsg*"}, {u"", kRet, kBoolResult}}},
      {u"SaveTemplate", 0x6003000A, INVOKE_FUNC,
       {{u"strPath", kIn, kBstr}, {u"Template", kInOut, u"MsgContents*"}, {u"", kRet, kBoolResult}}},
      {u"OpenTemplate", 0x6003000B, INVOKE_FUNC,
       {{u"strPath", kIn, kBstr}, {u"", kRet, u"MsgContents*"}}},
      {u"DebugTemplate", 0x6003000C, INVOKE_FUNC,
       {{u"argValue", kInOut, u"MsgContents*"}, {u"blShow", kOpt, u"VARIANT_BOOL"},
        {u"", kRet, u"BSTR*"}}},
      {u"DebugEmail", 0x6003000D, INVOKE_FUNC,
       {{u"argValue", kInOut, u"EmailMsg*"}, {u"blShow", kOpt, u"VARIANT_BOOL"}, {u"", kRet, u"BSTR*"}}},
      {u"IsRead", 0x6003000E, INVOKE_FUNC, {{u"Path", kIn, kBstr}, {u"", kRet, kBoolResult}}},
      {u"SaveLesson", 0x6003000F, INVOKE_FUNC,
       {{u"Path", kIn, kBstr}, {u"Lesson", kInOut, u"EmailLesson*"}, {u"", kRet, kBoolResult}}},
      {u"OpenLesson", 0x60030010, INVOKE_FUNC, {{u"Path", kIn, kBstr}, {u"", kRet, u"EmailLesson*"}}},
      {u"DisplayLesson", 0x60030011, INVOKE_FUNC, {{u"Path", kIn, kBstr}, {u"", kRet, u"VARIANT*"}}},
      {u"ShowTime", 0x60030012, INVOKE_FUNC, {{u"", kRet, u"VARIANT*"}}},
  };
  return members;
}

TEST(TypeLibrary, IdentityOfTheLibraryAndTheClass) {
  auto lib = load_library();
  ASSERT_TRUE(lib);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_Corvane));
  EXPECT_EQ(attr->wMajorVerNum, 30);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  lib->ReleaseTLibAttr(attr);
  unique_bstr name, help;
  lib->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr);
  EXPECT_EQ(text(name.get()), u"Corvane");
  EXPECT_EQ(text(help.get()), u"Quenby Email Object Model");
  EXPECT_EQ(lib->GetTypeInfoCount(), 11u) << "nine records, the interface and the class";

  com_ptr<ITypeInfo> coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_MailObjectModel, coclass.put()), S_OK);
  EXPECT_EQ(name_of(coclass.get()), u"MailObjectModel");
  TYPEATTR* type = nullptr;
  coclass->GetTypeAttr(&type);
  EXPECT_EQ(type->typekind, TKIND_COCLASS);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(type->cImplTypes, 1);
  coclass->ReleaseTypeAttr(type);
  INT impl_flags = 0;
  coclass->GetImplTypeFlags(0, &impl_flags);
  EXPECT_TRUE(impl_flags & IMPLTYPEFLAG_FDEFAULT);
  HREFTYPE ref = 0;
  coclass->GetRefTypeOfImplType(0, &ref);
  com_ptr<ITypeInfo> default_interface;
  coclass->GetRefTypeInfo(ref, default_interface.put());
  EXPECT_EQ(name_of(default_interface.get()), u"_MailObjectModel");
}

TEST(TypeLibrary, InterfaceIsDualHiddenNonExtensibleAutomation) {
  auto lib = load_library();
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__MailObjectModel, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE |
                      TYPEFLAG_FDISPATCHABLE;
  EXPECT_EQ(attr->wTypeFlags & wanted, wanted);
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  info->ReleaseTypeAttr(attr);
  // The function-table half of the dual interface carries the automation flag and derives
  // from IDispatch.
  HREFTYPE ref = 0;
  ASSERT_EQ(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  com_ptr<ITypeInfo> vtable;
  ASSERT_EQ(info->GetRefTypeInfo(ref, vtable.put()), S_OK);
  vtable->GetTypeAttr(&attr);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  vtable->ReleaseTypeAttr(attr);
  HREFTYPE base_ref = 0;
  ASSERT_EQ(vtable->GetRefTypeOfImplType(0, &base_ref), S_OK);
  com_ptr<ITypeInfo> base;
  ASSERT_EQ(vtable->GetRefTypeInfo(base_ref, base.put()), S_OK);
  EXPECT_EQ(name_of(base.get()), u"IDispatch");
}

TEST(TypeLibrary, MembersInFunctionTableOrderWithIdsParametersAndDirections) {
  auto lib = load_library();
  com_ptr<ITypeInfo> dispatch, vtable;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID__MailObjectModel, dispatch.put()), S_OK);
  HREFTYPE ref = 0;
  ASSERT_EQ(dispatch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
  ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.put()), S_OK);
  TYPEATTR* attr = nullptr;
  vtable->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  const UINT count = attr->cFuncs;
  vtable->ReleaseTypeAttr(attr);
  const auto& expected = expected_members();
  ASSERT_EQ(count, expected.size());

  for (UINT i = 0; i < count; ++i) {
    FUNCDESC* func = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(i, &func), S_OK);
    const auto& want = expected[i];
    SCOPED_TRACE(testing::Message() << "member " << i);
    EXPECT_EQ(func->memid, want.id);
    EXPECT_NE(func->memid, 0x60030004);
    EXPECT_EQ(func->invkind, want.kind);
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*))) << "after IDispatch";
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
    ASSERT_EQ(func->cParams, static_cast<SHORT>(want.params.size()));
    BSTR names[8] = {};
    UINT got = 0;
    vtable->GetNames(func->memid == want.id ? func->memid : 0, names, 8, &got);
    // Property put and get share an id; GetNames answers the first such member, so names of
    // the put are checked by position only.
    EXPECT_EQ(text(names[0]), want.name);
    for (SHORT p = 0; p < func->cParams; ++p) {
      const auto& param = want.params[p];
      if (!param.name.empty() && want.kind != INVOKE_PROPERTYPUT)
        EXPECT_EQ(text(static_cast<UINT>(p + 1) < got ? names[p + 1] : nullptr), param.name);
      const USHORT flags = func->lprgelemdescParam[p].paramdesc.wParamFlags &
                           (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL |
                            PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT);
      EXPECT_EQ(flags, param.flags) << "parameter " << p;
      EXPECT_EQ(type_text(vtable.get(), func->lprgelemdescParam[p].tdesc), param.type) << p;
      if (param.flags & PARAMFLAG_FHASDEFAULT) {
        const auto& def = func->lprgelemdescParam[p].paramdesc.pparamdescex->varDefaultValue;
        EXPECT_EQ(V_VT(&def), VT_BOOL);
        EXPECT_EQ(V_BOOL(&def), VARIANT_FALSE);
      }
    }
    for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
    vtable->ReleaseFuncDesc(func);
  }
}

template <class T>
struct IsList : std::false_type {};
template <class T>
struct IsList<corvane::List<T>> : std::true_type {};

// A 16-bit field is a Boolean or an Integer, which the core's types do not tell apart; the
// Boolean fields are the ones with these names.
bool is_boolean_field(std::string_view name) {
  return name == "Bold" || name == "Underline" || name == "Italic" || name == "Strikethrough" ||
         name == "Editable";
}

// The type a core record field has in the type library: VT_USERDEFINED for nested records,
// VT_SAFEARRAY for lists.
template <class T>
VARTYPE automation_type(std::string_view name) {
  if constexpr (std::is_same_v<T, corvane::Text>) return VT_BSTR;
  else if constexpr (std::is_same_v<T, corvane::Signature>) return VT_CARRAY;
  else if constexpr (IsList<T>::value) return VT_SAFEARRAY;
  else if constexpr (std::is_same_v<T, corvane::Byte>) return VT_UI1;
  else if constexpr (std::is_same_v<T, corvane::Long>) return VT_I4;
  else if constexpr (std::is_same_v<T, corvane::Date>) return VT_DATE;
  else if constexpr (std::is_same_v<T, int16_t>) return is_boolean_field(name) ? VT_BOOL : VT_I2;
  else {
    static_assert(std::is_class_v<T>, "a field type without an automation type");
    return VT_USERDEFINED;
  }
}

// Compares one record of the type library with the core's field list of the same record:
// identifier, name, fields in order with their types, and the size the server is built with.
template <class Core, class Automation>
void expect_record(ITypeLib& lib, const GUID& guid, std::string_view name) {
  SCOPED_TRACE(testing::Message() << name);
  std::vector<std::pair<std::u16string, VARTYPE>> fields;
  Core record{};
  Core::for_each_field(record, [&](std::string_view field, const auto& value) {
    fields.emplace_back(std::u16string(field.begin(), field.end()),
                        automation_type<std::remove_cvref_t<decltype(value)>>(field));
  });
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(lib.GetTypeInfoOfGuid(guid, info.put()), S_OK);
  EXPECT_EQ(name_of(info.get()), std::u16string(name.begin(), name.end()));
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  EXPECT_EQ(attr->typekind, TKIND_RECORD);
  ASSERT_EQ(attr->cVars, fields.size());
  info->ReleaseTypeAttr(attr);
  for (UINT v = 0; v < fields.size(); ++v) {
    VARDESC* var = nullptr;
    info->GetVarDesc(v, &var);
    EXPECT_EQ(name_of(info.get(), var->memid), fields[v].first);
    EXPECT_EQ(var->elemdescVar.tdesc.vt, fields[v].second) << v;
    info->ReleaseVarDesc(var);
  }
  com_ptr<IRecordInfo> record_info;
  ASSERT_EQ(GetRecordInfoFromTypeInfo(info.get(), record_info.put()), S_OK);
  ULONG size = 0;
  record_info->GetSize(&size);
  EXPECT_EQ(size, sizeof(Automation));
}

TEST(TypeLibrary, RecordsMatchTheCoreFieldListsAndTheServerLayout) {
  auto lib = load_library();
  ASSERT_TRUE(lib);
#define CORVANE_EXPECT_RECORD(R) expect_record<corvane::R, ::R>(*lib.get(), GUID_##R, #R)
  CORVANE_EXPECT_RECORD(SaveableFont);
  CORVANE_EXPECT_RECORD(MsgAttachment);
  CORVANE_EXPECT_RECORD(MsgText);
  CORVANE_EXPECT_RECORD(MsgPicture);
  CORVANE_EXPECT_RECORD(MsgContents);
  CORVANE_EXPECT_RECORD(EmailMsg);
  CORVANE_EXPECT_RECORD(LessonChoice);
  CORVANE_EXPECT_RECORD(LessonStep);
  CORVANE_EXPECT_RECORD(EmailLesson);
#undef CORVANE_EXPECT_RECORD
}

}  // namespace
