// The host's general utility object (`Util`): INI access, value conversions, SQL literals, list
// and text helpers, files, outside programs, waits, message boxes, the password cipher, picture
// reduction, preferences and the language pack.
//
// SQL literals match how the host schema stores values: text as '...' with apostrophes doubled,
// record keys as '{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}' in upper case, dates as
// 'YYYY-MM-DD HH:MM:SS'; Null (and an empty key or date) is NULL.
//
// Paths are host paths (host_path.h). Errors are HostError with VB's file numbers (53 file not
// found, 75 path/file access, 76 path not found) and the member's name as source.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/LanguagePack.h"
#include "host/host_picture.h"
#include "platform/dispatch.h"

namespace fern {

class cDbIni;

class cUtil : public Dispatch {
 public:
  cUtil();

  // --- INI files ---------------------------------------------------------------------------
  std::string IniGet(const std::string& section, const std::string& key, const std::string& def,
                     const std::string& file) const;
  void IniWrite(const std::string& section, const std::string& key, const std::string& value,
                const std::string& file) const;
  void IniCacheReset() const;

  // --- value conversions (a Field object gives its value) ----------------------------------
  // Text; Null and Empty give "".
  static std::string k(const Variant& v);
  // Null, Empty and "" are False, "1" and numbers other than 0 True, "True"/"Wahr" True; any
  // other text False (no error: these read flags from the database and INI files).
  static bool b(const Variant& v);
  static bool bln(const Variant& v) { return b(v); }
  // A date (OLE serial); Null, Empty and anything that is no date give 0.
  static double d(const Variant& v);
  // The number in a text, German ("1.234,5") or with a decimal point ("1234.5"); leading blanks
  // and trailing units are ignored; no number gives 0.
  static double my_val(const std::string& text);
  // Rounds half away from zero to `places` decimals (0..15).
  static double RoundKorrekt(double value, int32_t places);

  static std::string SqlStr(const Variant& v);
  static std::string SqlUid(const Variant& v);
  static std::string SQLDate(const Variant& v);

  // --- lists and text ----------------------------------------------------------------------
  static std::string StrListNr(const std::string& list, const std::string& sep, int32_t n);
  static int32_t StrListCount(const std::string& list, const std::string& sep);
  static std::string StrList_DeleteFirst(std::string& list, const std::string& sep);
  // True when `text` begins with `start`, without regard to case.
  static bool beg(const std::string& text, const std::string& start);
  // Removes `ending` from the end of `text` when it is there; returns the text.
  static std::string CutRight(std::string& text, const std::string& ending);
  static std::string Quote(const std::string& text);  // in double quotes
  // Keeps ASCII letters and digits and the characters of `keep`.
  static std::string OnlyAlphaChars(const std::string& text, const std::string& keep);
  static std::string Replace_GermSonderzeichen(const std::string& text);  // ä -> ae, ß -> ss, ...
  static bool isGuid(const std::string& text);  // with or without braces, any case
  static std::string removeBrace(std::string& dsn);

  // --- files -------------------------------------------------------------------------------
  static std::string GetFileExtender(const std::string& path);  // without the point
  static std::string GetFileName(const std::string& path);
  // The user's private temporary folder of the session's host folder (platform/private_temp.h);
  // ends with "/". HostError 75 when it is not safe to use.
  static std::string GetTempPath();
  static std::string GetTempFile(const std::string& extension);  // a fresh name, not created
  static bool Exist(const std::string& path);                    // file or folder
  static void Kill(const std::string& pathOrMask);               // no match is no error
  static std::string File2Str(const std::string& path);          // 53 when missing
  static void MyChdir(const std::string& path);                  // 76 when missing
  static int64_t FileLen(const std::string& path);               // 53 when missing
  static void MkFolder(const std::string& path);                 // with its parents; 75 on failure
  static void LogFile(const std::string& path, const std::string& line);
  std::shared_ptr<Dispatch> fso();

  // --- outside programs, waits -------------------------------------------------------------
  // Starts the program with its argument text (split as Windows does) and returns at once;
  // 53 when it can't be started.
  static void StartApplication(const std::string& program, const std::string& arguments);
  static void StartDoc(const std::string& pathOrAddress);
  // Runs the command line and returns its exit code (-1 when it did not exit normally).
  static int32_t RunAndWait(const std::string& commandLine);
  static void Sleep(int32_t ms);
  static void Wait(bool busy);
  static bool WaitIsEsc();

  // --- message boxes (the platform's message-box interface) -------------------------------
  int16_t MessageBox(const std::string& text, int32_t flags, const std::string& title = {}) const;
  bool MsgAsk(const std::string& question, bool defaultAnswer = false) const;
  void msgstop(const std::string& text) const;

  // --- cipher ------------------------------------------------------------------------------
  static std::string Decrypt(const std::string& stored, int32_t key);
  static std::string Encrypt(const std::string& plain, int32_t key);

  // --- pictures ----------------------------------------------------------------------------
  // The copyright text is drawn only when `signature` is on.
  void ShrinkJPG(const std::string& source, const std::string& target, int64_t maxBytes,
                 int32_t maxWidth, bool signature, const std::string& copyright) const;
  // Reads section "JPGFrame": OnlineFrameVisible, OnlineFrameWidth, OnlineFrameColor,
  // OnlineEyecatcherVisible, OnlineEyecatcherText, OnlineEyecatcherColor.
  void JPGFrameInit(Dispatch& dbIni);
  // ShrinkJPG with the frame read by JPGFrameInit (none before it).
  void JPGFrameShrink(const std::string& source, const std::string& target, int64_t maxBytes,
                      int32_t maxWidth, bool signature, const std::string& copyright,
                      const std::string& hostFolder, bool thumbnail = false) const;
  const host::PictureFrame& Frame() const { return frame_; }

  // --- preferences (table Preferences; cached until ResetPreferenceCache) ------------------
  std::string getUserpreference(const std::string& connect, const std::string& userDsn,
                                const std::string& key);
  std::string GetPreferenceSTDEntry(const std::string& connect, const std::string& key);
  std::string GetPreferenceOrDefault(const std::string& connect, const std::string& key,
                                     const std::string& def);
  void ResetPreferenceCache() { prefCache_.clear(); }
  // Calls setProxy(2, server, bypass) on the request when the company preferences name a
  // proxy ("PROXY.SERVER", "PROXY.BYPASS").
  void setPostWebserviceProxy(const std::string& connect, Dispatch& request);

  LanguagePack& Language() { return *languagePack_; }
  std::shared_ptr<LanguagePack> LanguagePackObject() { return languagePack_; }

  Variant Invoke(std::string_view name, unsigned kind, std::span<Variant> args) override;
  std::string TypeName() const override { return "cUtil"; }

 private:
  // The stored value or no value (std::nullopt is a missing preference).
  const std::optional<std::string>& Preference(const std::string& connect, const std::string& scope,
                                               const std::string& key);

  std::shared_ptr<LanguagePack> languagePack_;
  std::shared_ptr<Dispatch> fso_;
  host::PictureFrame frame_;
  std::map<std::string, std::optional<std::string>> prefCache_;
};

}  // namespace fern
