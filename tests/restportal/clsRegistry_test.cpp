// The registry stand-in in a scratch file: keys, values, deletes behind their switch, the
// enumerations and the codes its RegistryError event carries.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/vb.h"
#include "restportal/clsRegistry.h"
#include "support/scratch_dir.h"

namespace fern::testing {
namespace {

constexpr int32_t HKCU = clsRegistry::HKEY_CURRENT_USER;
const std::string kKey = "SOFTWARE\\Fern\\Test";

class RegistryTest : public ::testing::Test {
 protected:
  RegistryTest() : reg(dir.path() / "cfg" / "registry.ini") { Listen(reg); }
  void Listen(clsRegistry& r) {
    r.RegistryError = [this](int32_t code) { events.push_back("error " + std::to_string(code)); };
    r.EnumKey = [this](const std::string& name) { events.push_back("key " + name); };
    r.EnumKeyComplete = [this] { events.push_back("keys done"); };
    r.EnumValue = [this](const std::string& name, const Variant& value, int32_t type) {
      events.push_back("value " + name + "=" + vb::CStr(value) + " " + std::to_string(type));
    };
    r.EnumValueComplete = [this] { events.push_back("values done"); };
  }

  ScratchDir dir;
  clsRegistry reg;
  std::vector<std::string> events;
};

TEST_F(RegistryTest, KeysAreCreatedWithTheirParentsAndFoundInAnyCase) {
  EXPECT_EQ(reg.RegKeyExist(HKCU, kKey), 2);
  reg.CreateKey(HKCU, kKey + "\\Unten");
  for (const char* key : {"SOFTWARE", "software\\fern", "SOFTWARE\\FERN\\TEST\\unten"})
    EXPECT_EQ(reg.RegKeyExist(HKCU, key), 0) << key;
  EXPECT_EQ(reg.RegKeyExist(clsRegistry::HKEY_LOCAL_MACHINE, kKey), 2);
  EXPECT_EQ(reg.RegKeyExist(12345, kKey), 6);
  EXPECT_TRUE(events.empty());
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndTextAcrossInstances) {
  reg.SetNumericValue(HKCU, kKey, "fern.exe", 11000);
  reg.SetNumericValue(HKCU, kKey, "Negativ", -7);
  reg.SetStringValue(HKCU, kKey, "Leer", "");
  reg.SetStringValue(HKCU, kKey, "a=b", "Zeile 1\r\n[Zeile] 2=\\x");
  reg.SetNumericValue(HKCU, kKey, "FERN.EXE", 11001);  // the same value, other case

  clsRegistry again(dir.path() / "cfg" / "registry.ini");
  Listen(again);
  EXPECT_EQ(again.QueryNumericValue(HKCU, kKey, "fern.exe"), 11001);
  EXPECT_EQ(again.QueryNumericValue(HKCU, kKey, "negativ"), -7);
  EXPECT_EQ(again.QueryStringValue(HKCU, kKey, "Leer"), " ");
  EXPECT_EQ(again.QueryStringValue(HKCU, kKey, "A=B"), "Zeile 1\r\n[Zeile] 2=\\x");
  EXPECT_TRUE(events.empty());

  EXPECT_EQ(again.QueryNumericValue(HKCU, kKey, "fehlt"), 0);
  EXPECT_EQ(again.QueryStringValue(HKCU, kKey, "fehlt"), "");
  EXPECT_EQ(again.QueryNumericValue(HKCU, kKey, "Leer"), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"error 2", "error 2", "error 13"}));
}

TEST_F(RegistryTest, DeletesActOnlyWithTheSwitchSetForEach) {
  // A missing key is created by the delete, and nothing is deleted.
  reg.EnableDelete(true);
  reg.DeleteValue(HKCU, kKey, "x");
  EXPECT_FALSE(reg.EnableDelete());
  EXPECT_EQ(reg.RegKeyExist(HKCU, kKey), 0);
  EXPECT_EQ(events, std::vector<std::string>{"error 2"});

  reg.SetStringValue(HKCU, kKey, "a", "1");
  reg.SetStringValue(HKCU, kKey, "b", "2");
  reg.EnableDelete(true);
  reg.DeleteValue(HKCU, kKey, "a");
  reg.DeleteValue(HKCU, kKey, "b");
  EXPECT_EQ(reg.QueryStringValue(HKCU, kKey, "b"), "2");

  events.clear();
  reg.EnableDelete(true);
  reg.DeleteKey(HKCU, "SOFTWARE\\Fern");  // has a subkey: stays
  reg.DeleteKey(HKCU, kKey);              // switch already used
  EXPECT_EQ(reg.RegKeyExist(HKCU, kKey), 0);
  reg.EnableDelete(true);
  reg.DeleteKey(HKCU, kKey);
  EXPECT_EQ(reg.RegKeyExist(HKCU, kKey), 2);
  EXPECT_EQ(reg.RegKeyExist(HKCU, "SOFTWARE\\Fern"), 0);
  EXPECT_EQ(events, std::vector<std::string>{"error 5"});
}

TEST_F(RegistryTest, EnumerationsReportThroughEvents) {
  reg.CreateKey(HKCU, kKey);
  EXPECT_TRUE(reg.EnumValues(HKCU, kKey).IsEmpty());
  EXPECT_EQ(events, std::vector<std::string>{"values done"});

  events.clear();
  reg.CreateKey(HKCU, kKey + "\\Eins\\Tief");
  reg.CreateKey(HKCU, kKey + "\\Zwei");
  reg.SetNumericValue(HKCU, kKey, "Zahl", 4);
  reg.SetStringValue(HKCU, kKey, "Text", "t");
  reg.EnumKeys(HKCU, kKey);
  reg.EnumValues(HKCU, kKey);
  EXPECT_EQ(events, (std::vector<std::string>{"key Eins", "key Zwei", "keys done", "value Zahl=4 4",
                                              "value Text=t 1", "values done"}));
}

TEST_F(RegistryTest, ALostWriteIsReported) {
  std::ofstream(dir.path() / "datei") << "x";
  clsRegistry blocked(dir.path() / "datei" / "registry.ini");
  Listen(blocked);
  blocked.SetNumericValue(HKCU, kKey, "fern.exe", 11000);
  blocked.CreateKey(HKCU, "Anders");
  EXPECT_EQ(events, (std::vector<std::string>{"error 3", "error 5"}));
}

}  // namespace
}  // namespace fern::testing
