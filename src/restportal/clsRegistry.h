// The registry as the login window and scripts know it, kept in a small INI-style file of ours
// under the user's configuration folder (one section per key, named by its root and path; one
// line per value). Key and value names compare without regard to case, as in the registry.
// Failures never reach the caller: they arrive as RegistryError with the registry's codes
// (2 not found, 3 path not found, 5 access denied, 6 unknown root key).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/variant.h"

namespace fern {

class clsRegistry {
 public:
  static constexpr int32_t HKEY_CLASSES_ROOT = static_cast<int32_t>(0x80000000u);
  static constexpr int32_t HKEY_CURRENT_USER = static_cast<int32_t>(0x80000001u);
  static constexpr int32_t HKEY_LOCAL_MACHINE = static_cast<int32_t>(0x80000002u);
  static constexpr int32_t HKEY_USERS = static_cast<int32_t>(0x80000003u);
  static constexpr int32_t REG_SZ = 1;
  static constexpr int32_t REG_DWORD = 4;

  // The file: $XDG_CONFIG_HOME (or ~/.config) + "/FernDispatcher/registry.ini".
  static std::filesystem::path DefaultFile();
  explicit clsRegistry(std::filesystem::path file = DefaultFile());

  // Events.
  std::function<void(const std::string& name)> EnumKey;
  std::function<void()> EnumKeyComplete;
  std::function<void(const std::string& name, const Variant& value, int32_t type)> EnumValue;
  std::function<void()> EnumValueComplete;
  std::function<void(int32_t ErrorCode)> RegistryError;

  // Each delete needs the switch set anew: both deletes reset it whatever happens.
  bool EnableDelete() const { return enableDelete_; }
  void EnableDelete(bool ubNewValue) { enableDelete_ = ubNewValue; }

  void CreateKey(int32_t lKeyRoot, const std::string& sKeyName);
  void DeleteKey(int32_t lKeyRoot, const std::string& sKeyName);
  void DeleteValue(int32_t lKeyRoot, const std::string& sKeyName, const std::string& sValueName);
  Variant EnumKeys(int32_t lKeyRoot, const std::string& sKeyName);
  Variant EnumValues(int32_t lKeyRoot, const std::string& sKeyName);
  int32_t QueryNumericValue(int32_t lKeyRoot, const std::string& sKeyName,
                            const std::string& sValueName);
  std::string QueryStringValue(int32_t lKeyRoot, const std::string& sKeyName,
                               const std::string& sValueName);
  void SetNumericValue(int32_t lKeyRoot, const std::string& sKeyName, const std::string& sValueName,
                       int32_t lValueSetting);
  void SetStringValue(int32_t lKeyRoot, const std::string& sKeyName, const std::string& sValueName,
                      const std::string& sValueSetting);
  // 0 when the key exists, else the registry's code (2 for a missing key).
  int32_t RegKeyExist(int32_t Root, const std::string& sSubKeyName);

 private:
  struct Store;
  // The key's section name, or "" (with RegistryError 6 when `raise`) for an unknown root or a
  // name the file can't hold.
  std::string KeyPath(int32_t root, const std::string& name, bool raise = true);
  // Opens the key as the value members do: a missing key is created first.
  bool OpenKey(Store& store, const std::string& path);
  bool Save(const Store& store);
  void Fail(int32_t code);

  std::filesystem::path file_;
  bool enableDelete_ = false;
};

}  // namespace fern
