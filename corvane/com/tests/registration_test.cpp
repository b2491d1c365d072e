// Registration through regsvr32, for all users and for the current user: the class and its
// programmatic identifier, and the type library as the system itself registers it. The system's
// own lookups (LoadRegTypeLib, QueryPathOfRegTypeLib) are the judges of the type library's
// keys, and RegisterTypeLib run on the same file into an empty classes root is the model of
// what must be written.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "com_test_support.h"

namespace {

using namespace comtest;
using corvane::com::unique_hkey;

const std::wstring kClsidKey = L"CLSID\\{979CEE9F-5A48-4170-ADF3-137DCCB79C78}";
const std::wstring kLibidKey = L"TypeLib\\{A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}";
const std::wstring kInterfaceKey = L"Interface\\{D2D9811B-E6D5-4785-A525-842CF4F07584}";

// A registry tree as read back: key path (relative to the root it was read from) -> value name
// -> type and bytes.
struct Value {
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const Value& other) const { return type == other.type && data == other.data; }
};
using Tree = std::map<std::wstring, std::map<std::wstring, Value>>;

void read_into(HKEY root, const std::wstring& path, Tree& tree) {
  unique_hkey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return;
  auto& values = tree[path];
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_size = 256, type = 0, size = 0;
    if (RegEnumValueW(key.get(), i, name, &name_size, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
      break;
    std::vector<BYTE> data(size);
    name_size = 256;
    RegEnumValueW(key.get(), i, name, &name_size, nullptr, &type, data.data(), &size);
    values[name] = {type, data};
  }
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD name_size = 256;
    if (RegEnumKeyExW(key.get(), i, name, &name_size, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    read_into(root, path + L"\\" + name, tree);
  }
}

Tree read_tree(HKEY root, const std::vector<std::wstring>& paths) {
  Tree tree;
  for (const auto& path : paths) read_into(root, path, tree);
  return tree;
}

std::vector<std::wstring> subkeys(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  unique_hkey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD i = 0, size = 256;
       RegEnumKeyExW(key.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
       ++i, size = 256)
    names.emplace_back(name);
  return names;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// HKEY_CLASSES_ROOT of this process pointed at another key while the object lives.
class ClassesRootAt {
 public:
  explicit ClassesRootAt(HKEY key) { RegOverridePredefKey(HKEY_CLASSES_ROOT, key); }
  ~ClassesRootAt() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }
};

// What the system's RegisterTypeLib writes for Corvane.dll into an empty classes root, with
// paths relative to that root.
Tree system_registration() {
  const wchar_t* const scratch = L"Software\\CorvaneTypeLibModel";
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
  unique_hkey root;
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, scratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            root.put(), nullptr),
            ERROR_SUCCESS);
  {
    const ClassesRootAt redirect(root.get());
    com_ptr<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLibEx(dll_path().c_str(), REGKIND_NONE, lib.put()), S_OK);
    std::wstring path = dll_path();
    EXPECT_EQ(RegisterTypeLib(lib.get(), path.data(), nullptr), S_OK);
  }
  // It writes the library's key and its interface's key, nothing else (key names compare
  // without regard to case: the system spells "Typelib" its own way).
  auto names = subkeys(root.get(), L"");
  for (auto& name : names) CharLowerW(name.data());
  EXPECT_EQ(names, (std::vector<std::wstring>{L"interface", L"typelib"}));
  EXPECT_EQ(subkeys(root.get(), L"Interface"),
            std::vector<std::wstring>{L"{D2D9811B-E6D5-4785-A525-842CF4F07584}"});
  EXPECT_EQ(subkeys(root.get(), L"TypeLib"),
            std::vector<std::wstring>{L"{A02E87AA-BB35-4AC0-BA59-B2B975D64CEA}"});
  Tree tree = read_tree(root.get(), {kInterfaceKey, kLibidKey});
  root.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
  return tree;
}

// The type library as a client finds it through the registry by identifier and version 30.0.
struct Lookup {
  HRESULT load;
  HRESULT query;
  std::wstring path;
};

Lookup look_up_registered_library() {
  Lookup out{};
  com_ptr<ITypeLib> lib;
  out.load = LoadRegTypeLib(LIBID_Corvane, 30, 0, LOCALE_NEUTRAL, lib.put());
  unique_bstr path;
  out.query = QueryPathOfRegTypeLib(LIBID_Corvane, 30, 0, LOCALE_NEUTRAL, path.put());
  if (path) out.path = path.get();
  return out;
}

bool exists(HKEY root, const std::wstring& key) {
  unique_hkey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::wstring value(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[512] = {};
  DWORD size = sizeof buffer;
  RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size);
  return std::wstring(buffer);
}

struct Scope {
  const char* name;
  HKEY base;  // the classes key lives at base\Software\Classes
  const wchar_t* register_switches;
  const wchar_t* unregister_switches;
};

void PrintTo(const Scope& scope, std::ostream* out) { *out << scope.name; }

const Scope kMachine{"machine", HKEY_LOCAL_MACHINE, L"/s", L"/s /u"};
const Scope kUser{"user", HKEY_CURRENT_USER, L"/s /n /i:user", L"/s /u /n /i:user"};

// Runs a lookup as a client of that scope sees the classes: a per-user registration is seen
// through the user's classes, which Wine does not merge into HKEY_CLASSES_ROOT.
template <class Fn>
auto as_seen_by(const Scope& scope, Fn fn) {
  if (scope.base != HKEY_CURRENT_USER) return fn();
  unique_hkey classes;
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_ALL_ACCESS, classes.put());
  const ClassesRootAt redirect(classes.get());
  return fn();
}

unique_hkey classes_of(const Scope& scope) {
  unique_hkey classes;
  RegOpenKeyExW(scope.base, L"Software\\Classes", 0, KEY_READ, classes.put());
  return classes;
}

class Registration : public testing::TestWithParam<Scope> {
 protected:
  void SetUp() override {
    // Nothing of either scope is left from other tests.
    ASSERT_EQ(regsvr32(kMachine.unregister_switches), 0u);
    ASSERT_EQ(regsvr32(kUser.unregister_switches), 0u);
  }
  void TearDown() override {
    regsvr32(GetParam().unregister_switches);
    // Leave the server registered for all users for the other tests.
    ASSERT_EQ(regsvr32(kMachine.register_switches), 0u);
  }
};

// The class, its programmatic identifier and the type library, which the system finds by
// identifier and version, come with the registration and go with the unregistration.
TEST_P(Registration, TheClassItsIdentifierAndTheTypeLibraryComeAndGo) {
  const Scope& scope = GetParam();
  ASSERT_EQ(regsvr32(scope.register_switches), 0u);
  const auto classes = classes_of(scope);
  EXPECT_EQ(value(classes.get(), kClsidKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_EQ(value(classes.get(), kClsidKey + L"\\InprocServer32", nullptr), dll_path());
  EXPECT_EQ(value(classes.get(), kClsidKey + L"\\ProgID", nullptr), L"Corvane.MailObjectModel");
  EXPECT_EQ(value(classes.get(), L"Corvane.MailObjectModel\\Clsid", nullptr),
            L"{979CEE9F-5A48-4170-ADF3-137DCCB79C78}");
  Lookup found = as_seen_by(scope, look_up_registered_library);
  EXPECT_EQ(found.load, S_OK);
  EXPECT_EQ(found.query, S_OK);
  EXPECT_EQ(found.path, dll_path());

  ASSERT_EQ(regsvr32(scope.unregister_switches), 0u);
  for (const std::wstring& key : {kClsidKey, std::wstring(L"Corvane.MailObjectModel"), kLibidKey,
                                  kInterfaceKey}) {
    EXPECT_FALSE(exists(classes.get(), key)) << narrow(key);
  }
  found = as_seen_by(scope, look_up_registered_library);
  EXPECT_EQ(found.load, TYPE_E_LIBNOTREGISTERED);
  EXPECT_EQ(found.query, TYPE_E_LIBNOTREGISTERED);
}

TEST_P(Registration, WritesExactlyTheKeysOfTheSystemsTypeLibraryRegistration) {
  const Tree expected = system_registration();
  ASSERT_FALSE(expected.empty());
  const Scope& scope = GetParam();
  ASSERT_EQ(regsvr32(scope.register_switches), 0u);
  const auto classes = classes_of(scope);
  const Tree written = read_tree(classes.get(), {kInterfaceKey, kLibidKey});
  for (const auto& [path, values] : expected) {
    const auto it = written.find(path);
    ASSERT_NE(it, written.end()) << narrow(path);
    EXPECT_TRUE(it->second == values) << narrow(path);
  }
  for (const auto& entry : written) EXPECT_TRUE(expected.count(entry.first)) << narrow(entry.first);
}

INSTANTIATE_TEST_SUITE_P(Scopes, Registration, testing::Values(kMachine, kUser),
                         [](const testing::TestParamInfo<Scope>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
