// Listing pictures reduced for transfer: scaled down to a width, re-encoded as JPEG until the file
// fits a byte limit, optionally stamped with a copyright line and framed. Works on QImage only; no
// window is needed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace fern::host {

// The online frame of the title picture, as the settings table section "JPGFrame" holds it.
struct PictureFrame {
  bool visible = false;            // OnlineFrameVisible
  int width = 8;                   // OnlineFrameWidth, pixels at full size
  uint32_t color = 0xFFFFFF;       // OnlineFrameColor, "#RRGGBB"
  bool eyecatcherVisible = false;  // OnlineEyecatcherVisible
  std::string eyecatcherText;      // OnlineEyecatcherText, drawn on a band in the top-left corner
  uint32_t eyecatcherColor = 0xC00000;  // OnlineEyecatcherColor
};

struct ShrinkRequest {
  std::filesystem::path source;
  std::filesystem::path target;
  int64_t maxBytes = 0;   // <= 0: no byte limit
  int32_t maxWidth = 0;   // <= 0: keep the width
  std::string copyright;  // drawn bottom right when not empty
  const PictureFrame* frame = nullptr;
  bool thumbnail = false;  // a frame on a thumbnail is drawn at half width
};

// Writes the target as a JPEG within both limits. When even the lowest quality does not fit the
// byte limit, the picture is made smaller until it does. Texts need Qt's fonts: without any Qt
// application one is made on the offscreen platform; in a process that runs a plain
// QCoreApplication the texts are left out. The target is written beside itself first and
// renamed into place, so it is never left empty or half-written and an old target survives a
// failure. Throws HostError naming the file: 53 when the source is missing, 50015 when it is no
// readable picture or a JPEG that ends before its last row, when the target would be the source,
// or when the target can't be written.
void ShrinkPicture(const ShrinkRequest& request);

}  // namespace fern::host
