// cUtil's picture members: reduction for transfer and the online frame of title pictures.
#include <cstdlib>

#include "host/cUtil.h"
#include "platform/host_path.h"
#include "platform/text.h"
#include "platform/vb.h"

namespace fern {
namespace {

std::string Setting(Dispatch& dbIni, const char* key, const char* def) {
  std::vector<Variant> args{Variant("JPGFrame"), Variant(key), Variant(def)};
  Variant v = dbIni.Invoke("getStr", kMethod, args);
  return v.IsString() ? v.str() : std::string(def);
}

uint32_t ParseColor(const std::string& s, uint32_t def) {
  std::string_view t = text::TrimBlanks(s);
  if (!t.empty() && t.front() == '#') t.remove_prefix(1);
  if (t.size() != 6) return def;
  char* end = nullptr;
  std::string hex(t);
  unsigned long v = std::strtoul(hex.c_str(), &end, 16);
  return end && *end == 0 ? static_cast<uint32_t>(v) : def;
}

host::ShrinkRequest Request(const std::string& source, const std::string& target, int64_t maxBytes,
                            int32_t maxWidth, bool signature, const std::string& copyright) {
  host::ShrinkRequest r;
  r.source = ResolveHostPath(source);
  r.target = ResolveHostPath(target);
  r.maxBytes = maxBytes;
  r.maxWidth = maxWidth;
  if (signature) r.copyright = copyright;
  return r;
}

}  // namespace

void cUtil::ShrinkJPG(const std::string& source, const std::string& target, int64_t maxBytes,
                      int32_t maxWidth, bool signature, const std::string& copyright) const {
  host::ShrinkPicture(Request(source, target, maxBytes, maxWidth, signature, copyright));
}

void cUtil::JPGFrameInit(Dispatch& dbIni) {
  host::PictureFrame f;
  f.visible = b(Variant(Setting(dbIni, "OnlineFrameVisible", "0")));
  int32_t width = static_cast<int32_t>(my_val(Setting(dbIni, "OnlineFrameWidth", "8")));
  f.width = std::max(0, width);
  f.color = ParseColor(Setting(dbIni, "OnlineFrameColor", "#FFFFFF"), 0xFFFFFF);
  f.eyecatcherVisible = b(Variant(Setting(dbIni, "OnlineEyecatcherVisible", "0")));
  f.eyecatcherText = Setting(dbIni, "OnlineEyecatcherText", "");
  f.eyecatcherColor = ParseColor(Setting(dbIni, "OnlineEyecatcherColor", "#C00000"), 0xC00000);
  frame_ = f;
}

void cUtil::JPGFrameShrink(const std::string& source, const std::string& target, int64_t maxBytes,
                           int32_t maxWidth, bool signature, const std::string& copyright,
                           const std::string&, bool thumbnail) const {
  host::ShrinkRequest r = Request(source, target, maxBytes, maxWidth, signature, copyright);
  r.frame = &frame_;
  r.thumbnail = thumbnail;
  host::ShrinkPicture(r);
}

}  // namespace fern
