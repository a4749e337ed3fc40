#include "services/cZipV2.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/host_path.h"
#include "platform/text.h"

namespace fern {

namespace fs = std::filesystem;

namespace {

constexpr int32_t kPathFileAccess = err::kPathFileAccess;
constexpr int32_t kPathNotFound = 76;
constexpr const char* kSource = "cZip";

std::string Resolve(const std::string& host) { return ResolveHostPath(host).string(); }

// The items of a list such as "\"a.xml\" \"pics\\*.jpg\""; unquoted words count as items too.
std::vector<std::string> SplitItems(const std::string& list) {
  std::vector<std::string> items;
  size_t i = 0;
  while (i < list.size()) {
    if (list[i] == ' ' || list[i] == '\t') {
      ++i;
      continue;
    }
    size_t end;
    std::string item;
    if (list[i] == '"') {
      end = list.find('"', i + 1);
      if (end == std::string::npos) end = list.size();
      item = list.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      end = list.find_first_of(" \t", i);
      if (end == std::string::npos) end = list.size();
      item = list.substr(i, end - i);
      i = end;
    }
    if (item.find_first_not_of(' ') != std::string::npos) items.push_back(item);
  }
  return items;
}

std::string Normal(const std::string& real) {
  std::error_code ec;
  fs::path p = fs::absolute(real, ec);
  if (ec) p = real;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

void CollectFiles(const std::string& folder, const std::string& mask, bool recurse,
                  std::vector<std::string>& out) {
  for (const fs::path& p : FindFiles(folder, mask, recurse)) out.push_back(p.string());
}

std::string ZipErrorText(zip_t* za) { return za ? zip_strerror(za) : "unknown zip error"; }

struct ZipCloser {
  void operator()(zip_t* za) const {
    if (za) zip_discard(za);
  }
};
using ZipHandle = std::unique_ptr<zip_t, ZipCloser>;

ZipHandle OpenArchive(const std::string& real, int flags, const std::string& shown) {
  int code = 0;
  zip_t* za = zip_open(real.c_str(), flags, &code);
  if (!za) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    throw HostError(code == ZIP_ER_NOENT ? err::kFileNotFound : kPathFileAccess,
                    "Cannot open zip archive " + shown + ": " + text, kSource);
  }
  return ZipHandle(za);
}

bool IsFolderEntry(zip_t* za, zip_uint64_t index, const std::string& name) {
  if (!name.empty() && (name.back() == '/' || name.back() == '\\')) return true;
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) != 0) return false;
  if (opsys == ZIP_OPSYS_DOS) return (attributes & 0x10) != 0;
  if (opsys == ZIP_OPSYS_UNIX) return S_ISDIR(attributes >> 16);
  return false;
}

// An entry name that is absolute, carries a drive or climbs with ".." could land outside the
// destination folder.
bool IsUnsafeEntryName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\') return true;
  if (name.size() >= 2 && name[1] == ':') return true;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = std::min(name.find_first_of("/\\", start), name.size());
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace

void cZipV2::AddFile(const std::string& strPathZip, std::string& strPathAddFile,
                     const std::string& strBaseFolder, bool blnRecurse) {
  try {
    const std::vector<std::string> items = SplitItems(strPathAddFile);
    if (items.empty()) return;

    std::vector<std::string> files;
    for (const std::string& item : items) {
      const size_t sep = item.find_last_of("\\/");
      const std::string name = sep == std::string::npos ? item : item.substr(sep + 1);
      if (name.find_first_of("*?") != std::string::npos) {
        const std::string folder = Resolve(sep == std::string::npos ? "." : item.substr(0, sep));
        std::error_code ec;
        if (!fs::is_directory(folder, ec))
          throw HostError(kPathNotFound, "Folder not found: " + item, kSource);
        CollectFiles(folder, name, blnRecurse, files);
        continue;
      }
      const std::string real = Resolve(item);
      std::error_code ec;
      if (fs::is_directory(real, ec)) {
        CollectFiles(real, "*", blnRecurse, files);
      } else if (fs::is_regular_file(real, ec)) {
        files.push_back(real);
      } else {
        throw HostError(err::kFileNotFound, "File not found: " + item, kSource);
      }
    }

    baseFolder_.clear();
    if (strBaseFolder.find_first_not_of(' ') != std::string::npos)
      baseFolder_ = Normal(Resolve(strBaseFolder));
    const std::string zipReal = Resolve(strPathZip);
    const std::string zipNormal = Normal(zipReal);
    std::vector<std::pair<std::string, std::string>> entries;  // real path, entry name
    for (const std::string& f : files) {
      if (Normal(f) == zipNormal) continue;  // "*.*" in the archive's own folder
      // libzip reads the files only when the archive is written; find unreadable ones now.
      if (::access(f.c_str(), R_OK) != 0)
        throw HostError(kPathFileAccess, "Cannot read " + f + ": " + std::strerror(errno), kSource);
      std::string entry = Normal(f);
      zip_ZipRenameCallback(entry);
      entries.emplace_back(f, entry.substr(entry.find_first_not_of('/')));  // never absolute
    }
    if (entries.empty()) return;

    ZipHandle za = OpenArchive(zipReal, ZIP_CREATE, strPathZip);
    for (const auto& [path, entry] : entries) {
      zip_source_t* src = zip_source_file(za.get(), path.c_str(), 0, 0);
      if (!src ||
          zip_file_add(za.get(), entry.c_str(), src, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
        const std::string text = ZipErrorText(za.get());
        if (src) zip_source_free(src);
        throw HostError(kPathFileAccess, "Cannot add " + path + " to " + strPathZip + ": " + text,
                        kSource);
      }
    }
    if (zip_close(za.get()) != 0)
      throw HostError(kPathFileAccess,
                      "Cannot write zip archive " + strPathZip + ": " + ZipErrorText(za.get()),
                      kSource);
    za.release();
  } catch (const HostError& e) {
    if (!ErrorHandler) throw;
    ErrorHandler(e);
  }
}

void cZipV2::zip_ZipRenameCallback(std::string& strName) const {
  // The separator after the base must be there: base "/x/Export" leaves "/x/ExportOld/a" alone.
  const std::string& base = baseFolder_;
  if (!base.empty() && strName.size() > base.size() + 1 && strName[base.size()] == '/' &&
      text::EqualsNoCase(strName.substr(0, base.size()), base))
    strName.erase(0, base.size() + 1);
}

std::string cZipV2::ExtractFirstMatchingFile(const std::string& strPathZipFile,
                                             const std::string& strMatch,
                                             const std::string& strDestFolder,
                                             bool bnlWithErrorHandling) {
  try {
    return Extract(strPathZipFile, strMatch, strDestFolder);
  } catch (const HostError& e) {
    if (!bnlWithErrorHandling || !ErrorHandler) throw;
    ErrorHandler(e);
    return {};
  }
}

std::string cZipV2::Extract(const std::string& zipPath, const std::string& match,
                            const std::string& destFolder) {
  ZipHandle za = OpenArchive(Resolve(zipPath), ZIP_RDONLY, zipPath);
  const zip_int64_t count = zip_get_num_entries(za.get(), 0);
  zip_int64_t taken = -1;
  std::string name;
  for (zip_int64_t i = 0; i < count && taken < 0; ++i) {
    const char* n = zip_get_name(za.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
    if (!n) continue;
    name = n;
    if (IsFolderEntry(za.get(), static_cast<zip_uint64_t>(i), name)) continue;
    if (MatchesMask(name, match)) taken = i;
  }
  if (taken < 0) return {};

  if (IsUnsafeEntryName(name))
    throw HostError(err::kInvalidValue,
                    "Zip entry would leave the target folder: \"" + name + "\" in " + zipPath,
                    kSource);
  std::replace(name.begin(), name.end(), '/', '\\');
  const std::string file = name.substr(name.find_last_of('\\') + 1);

  const fs::path destReal = Resolve(destFolder);
  std::error_code ec;
  fs::create_directories(destReal, ec);
  const fs::path target = destReal / file;
  fs::remove(target, ec);  // a link of that name must not redirect the write

  zip_file_t* zf = zip_fopen_index(za.get(), static_cast<zip_uint64_t>(taken), 0);
  if (!zf)
    throw HostError(kPathFileAccess,
                    "Cannot read " + name + " in " + zipPath + ": " + ZipErrorText(za.get()),
                    kSource);
  std::FILE* out = std::fopen(target.c_str(), "wbx");
  if (!out) {
    const int e = errno;
    zip_fclose(zf);
    throw HostError(kPathFileAccess, "Cannot create " + target.string() + ": " + std::strerror(e),
                    kSource);
  }
  std::vector<char> buf(1 << 16);
  bool ok = true;
  std::string why;
  for (;;) {
    const zip_int64_t got = zip_fread(zf, buf.data(), buf.size());
    if (got < 0) {
      ok = false;
      why = zip_strerror(za.get());
      if (zip_file_strerror(zf)) why = zip_file_strerror(zf);
      break;
    }
    if (got == 0) break;
    if (std::fwrite(buf.data(), 1, static_cast<size_t>(got), out) != static_cast<size_t>(got)) {
      ok = false;
      why = std::strerror(errno);
      break;
    }
  }
  zip_fclose(zf);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    why = std::strerror(errno);
  }
  if (!ok) {
    fs::remove(target, ec);
    throw HostError(kPathFileAccess, "Cannot extract " + name + " from " + zipPath + ": " + why,
                    kSource);
  }
  std::string result = destFolder;
  if (result.empty() || (result.back() != '\\' && result.back() != '/')) result += '\\';
  return result + file;
}

}  // namespace fern
