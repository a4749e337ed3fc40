#include "restportal/clsRegistry.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/text.h"

namespace fern {

namespace {

constexpr int32_t kNotFound = 2;
constexpr int32_t kPathNotFound = 3;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kInvalidHandle = 6;
constexpr int32_t kInvalidData = 13;

// Names and values stay on one line and never read as a section or a separator.
std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '=':
        out += "\\e";
        break;
      case '[':
        out += "\\b";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    char c = s[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 'e' ? '=' : c == 'b' ? '[' : c;
  }
  return out;
}

}  // namespace

struct clsRegistry::Store {
  struct Value {
    std::string name;
    int32_t type = REG_SZ;
    std::string text;  // REG_DWORD: the decimal number
  };
  struct Key {
    std::string path;
    std::vector<Value> values;
  };
  std::vector<Key> keys;
  bool readable = true;

  Key* Find(const std::string& path) {
    for (Key& k : keys)
      if (text::EqualsNoCase(k.path, path)) return &k;
    return nullptr;
  }
  // Creates the key and every key above it, as the registry does.
  Key& Create(const std::string& path) {
    for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1))
      if (!Find(path.substr(0, pos))) keys.push_back({path.substr(0, pos), {}});
    if (Key* k = Find(path)) return *k;
    keys.push_back({path, {}});
    return keys.back();
  }
  Value* FindValue(Key& key, const std::string& name) {
    for (Value& v : key.values)
      if (text::EqualsNoCase(v.name, name)) return &v;
    return nullptr;
  }
  bool HasSubkeys(const std::string& path) {
    const std::string prefix = text::FoldCase(path) + "\\";
    return std::any_of(keys.begin(), keys.end(),
                       [&](const Key& k) { return text::FoldCase(k.path).starts_with(prefix); });
  }

  static Store Load(const std::filesystem::path& file) {
    Store store;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return store;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      store.readable = false;
      return store;
    }
    std::string line;
    Key* current = nullptr;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
        current = &store.Create(line.substr(1, line.size() - 2));
        continue;
      }
      size_t eq = line.find('=');
      if (!current || eq == std::string::npos) continue;
      std::string data = line.substr(eq + 1);
      Value v{Unescape(line.substr(0, eq)), REG_SZ, {}};
      if (data.starts_with("dword:")) {
        v.type = REG_DWORD;
        v.text = data.substr(6);
      } else if (data.starts_with("sz:")) {
        v.text = Unescape(data.substr(3));
      } else {
        continue;
      }
      current->values.push_back(std::move(v));
    }
    return store;
  }
};

std::filesystem::path clsRegistry::DefaultFile() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home)
    base = std::filesystem::path(home) / ".config";
  else
    base = std::filesystem::temp_directory_path();
  return base / "FernDispatcher" / "registry.ini";
}

clsRegistry::clsRegistry(std::filesystem::path file) : file_(std::move(file)) {}

void clsRegistry::Fail(int32_t code) {
  if (RegistryError) RegistryError(code);
}

std::string clsRegistry::KeyPath(int32_t root, const std::string& name, bool raise) {
  const char* rootName = nullptr;
  switch (static_cast<uint32_t>(root)) {
    case 0x80000000u:
      rootName = "HKEY_CLASSES_ROOT";
      break;
    case 0x80000001u:
      rootName = "HKEY_CURRENT_USER";
      break;
    case 0x80000002u:
      rootName = "HKEY_LOCAL_MACHINE";
      break;
    case 0x80000003u:
      rootName = "HKEY_USERS";
      break;
    case 0x80000005u:
      rootName = "HKEY_CURRENT_CONFIG";
      break;
  }
  // A key name that would break the file's lines is refused like an unknown handle.
  if (!rootName || name.find_first_of("\r\n[]") != std::string::npos) {
    if (raise) Fail(kInvalidHandle);
    return {};
  }
  std::string path = rootName;
  for (size_t start = 0; start <= name.size();) {
    size_t end = std::min(name.find('\\', start), name.size());
    if (end > start) path += "\\" + name.substr(start, end - start);
    start = end + 1;
  }
  return path;
}

bool clsRegistry::OpenKey(Store& store, const std::string& path) {
  if (path.empty()) return false;
  if (!store.readable) {
    Fail(kAccessDenied);
    return false;
  }
  if (store.Find(path)) return true;
  store.Create(path);
  if (!Save(store)) {
    Fail(kPathNotFound);
    return false;
  }
  return true;
}

bool clsRegistry::Save(const Store& store) {
  std::ostringstream out;
  for (const Store::Key& k : store.keys) {
    out << '[' << k.path << "]\n";
    for (const Store::Value& v : k.values)
      out << Escape(v.name) << '=' << (v.type == REG_DWORD ? "dword:" : "sz:")
          << (v.type == REG_DWORD ? v.text : Escape(v.text)) << '\n';
  }
  // Written beside and renamed over, so a failed write never leaves half a file.
  std::error_code ec;
  std::filesystem::create_directories(file_.parent_path(), ec);
  std::filesystem::path temp = file_;
  temp += ".tmp" + std::to_string(::getpid());
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    f << out.str();
    if (!(f.flush())) {
      std::filesystem::remove(temp, ec);
      return false;
    }
  }
  std::filesystem::rename(temp, file_, ec);
  if (ec) std::filesystem::remove(temp, ec);
  return !ec;
}

void clsRegistry::CreateKey(int32_t lKeyRoot, const std::string& sKeyName) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  if (path.empty()) return;
  Store store = Store::Load(file_);
  if (!store.readable) return Fail(kAccessDenied);
  if (store.Find(path)) return;
  store.Create(path);
  if (!Save(store)) Fail(kAccessDenied);
}

void clsRegistry::DeleteKey(int32_t lKeyRoot, const std::string& sKeyName) {
  const bool enabled = enableDelete_;
  enableDelete_ = false;
  if (!enabled) return;
  std::string path = KeyPath(lKeyRoot, sKeyName);
  if (path.empty()) return;
  Store store = Store::Load(file_);
  if (!store.readable) return Fail(kAccessDenied);
  if (!store.Find(path)) return Fail(kNotFound);
  // As in the registry, a key with subkeys stays.
  if (store.HasSubkeys(path)) return Fail(kAccessDenied);
  std::erase_if(store.keys, [&](const Store::Key& k) { return text::EqualsNoCase(k.path, path); });
  if (!Save(store)) Fail(kAccessDenied);
}

void clsRegistry::DeleteValue(int32_t lKeyRoot, const std::string& sKeyName,
                              const std::string& sValueName) {
  const bool enabled = enableDelete_;
  enableDelete_ = false;
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path) || !enabled) return;
  Store::Key& key = *store.Find(path);
  if (!store.FindValue(key, sValueName)) return Fail(kNotFound);
  std::erase_if(key.values,
                [&](const Store::Value& v) { return text::EqualsNoCase(v.name, sValueName); });
  if (!Save(store)) Fail(kAccessDenied);
}

Variant clsRegistry::EnumKeys(int32_t lKeyRoot, const std::string& sKeyName) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return {};
  const std::string prefix = text::FoldCase(path) + "\\";
  for (const Store::Key& k : store.keys) {
    std::string folded = text::FoldCase(k.path);
    if (folded.starts_with(prefix) && folded.find('\\', prefix.size()) == std::string::npos &&
        EnumKey)
      EnumKey(k.path.substr(prefix.size()));
  }
  if (EnumKeyComplete) EnumKeyComplete();
  return {};
}

Variant clsRegistry::EnumValues(int32_t lKeyRoot, const std::string& sKeyName) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return {};
  for (const Store::Value& v : store.Find(path)->values) {
    if (!EnumValue) continue;
    if (v.type == REG_DWORD)
      EnumValue(v.name, Variant(static_cast<int32_t>(std::strtoll(v.text.c_str(), nullptr, 10))),
                v.type);
    else
      EnumValue(v.name, Variant(v.text), v.type);
  }
  if (EnumValueComplete) EnumValueComplete();
  return {};
}

int32_t clsRegistry::QueryNumericValue(int32_t lKeyRoot, const std::string& sKeyName,
                                       const std::string& sValueName) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return 0;
  Store::Value* v = store.FindValue(*store.Find(path), sValueName);
  if (!v) {
    Fail(kNotFound);
    return 0;
  }
  if (v->type != REG_DWORD) {
    // A text is not 4 bytes of number; the registry would hand back its first bytes.
    Fail(kInvalidData);
    return 0;
  }
  return static_cast<int32_t>(std::strtoll(v->text.c_str(), nullptr, 10));
}

std::string clsRegistry::QueryStringValue(int32_t lKeyRoot, const std::string& sKeyName,
                                          const std::string& sValueName) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return {};
  Store::Value* v = store.FindValue(*store.Find(path), sValueName);
  if (!v) {
    Fail(kNotFound);
    return {};
  }
  return v->text;
}

void clsRegistry::SetNumericValue(int32_t lKeyRoot, const std::string& sKeyName,
                                  const std::string& sValueName, int32_t lValueSetting) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return;
  Store::Key& key = *store.Find(path);
  Store::Value* v = store.FindValue(key, sValueName);
  if (!v) v = &key.values.emplace_back(Store::Value{sValueName, REG_DWORD, {}});
  v->type = REG_DWORD;
  v->text = std::to_string(lValueSetting);
  // A lost write is said, not passed over: the caller would think the value is set.
  if (!Save(store)) Fail(kAccessDenied);
}

void clsRegistry::SetStringValue(int32_t lKeyRoot, const std::string& sKeyName,
                                 const std::string& sValueName, const std::string& sValueSetting) {
  std::string path = KeyPath(lKeyRoot, sKeyName);
  Store store = Store::Load(file_);
  if (!OpenKey(store, path)) return;
  Store::Key& key = *store.Find(path);
  Store::Value* v = store.FindValue(key, sValueName);
  if (!v) v = &key.values.emplace_back(Store::Value{sValueName, REG_SZ, {}});
  v->type = REG_SZ;
  v->text = sValueSetting.empty() ? " " : sValueSetting;
  if (!Save(store)) Fail(kAccessDenied);
}

int32_t clsRegistry::RegKeyExist(int32_t Root, const std::string& sSubKeyName) {
  // The answer is the code; no event.
  std::string path = KeyPath(Root, sSubKeyName, false);
  if (path.empty()) return kInvalidHandle;
  Store store = Store::Load(file_);
  if (!store.readable) return kAccessDenied;
  return store.Find(path) ? 0 : kNotFound;
}

}  // namespace fern
