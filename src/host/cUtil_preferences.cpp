// cUtil's preferences: table PREFERENCES, scope "STD" for the company or a user's key.
#include "host/cUtil.h"
#include "host/host_database.h"
#include "platform/text.h"

namespace fern {

const std::optional<std::string>& cUtil::Preference(const std::string& connect,
                                                    const std::string& scope,
                                                    const std::string& key) {
  // Keys compare without trailing blanks, as the host's server compared them: callers do pass
  // "KavantorAPIAvailabilityTestURL " with one.
  std::string k(text::TrimBlanks(key));
  std::string cacheKey = connect + '\n' + text::FoldCase(scope) + '\n' + text::FoldCase(k);
  auto it = prefCache_.find(cacheKey);
  if (it != prefCache_.end()) return it->second;
  auto rs = host::Database(connect).Query(
      "SELECT VALUE FROM PREFERENCES WHERE SCOPE = " + SqlStr(Variant(scope)) +
      " AND PREFKEY = " + SqlStr(Variant(k)));
  std::optional<std::string> value;
  if (!rs->Eof() && !rs->Value(size_t{0}).IsNull()) value = cUtil::k(rs->Value(size_t{0}));
  return prefCache_.emplace(cacheKey, std::move(value)).first->second;
}

std::string cUtil::getUserpreference(const std::string& connect, const std::string& userDsn,
                                     const std::string& key) {
  if (!isGuid(userDsn)) return {};
  return Preference(connect, userDsn, key).value_or(std::string());
}

std::string cUtil::GetPreferenceSTDEntry(const std::string& connect, const std::string& key) {
  return Preference(connect, "STD", key).value_or(std::string());
}

std::string cUtil::GetPreferenceOrDefault(const std::string& connect, const std::string& key,
                                          const std::string& def) {
  return Preference(connect, "STD", key).value_or(def);
}

void cUtil::setPostWebserviceProxy(const std::string& connect, Dispatch& request) {
  std::string server = GetPreferenceSTDEntry(connect, "PROXY.SERVER");
  if (text::TrimBlanks(server).empty()) return;
  std::string bypass = GetPreferenceSTDEntry(connect, "PROXY.BYPASS");
  std::vector<Variant> args{Variant(int32_t{2}), Variant(server), Variant(bypass)};
  request.Invoke("setProxy", kMethod, args);
}

}  // namespace fern
