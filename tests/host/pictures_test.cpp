#include <gtest/gtest.h>

#include <QImage>
#include <QImageReader>
#include <random>

#include "host/cUtil.h"
#include "platform/host_error.h"
#include "support/scratch_dir.h"

namespace fern {
namespace {

// Noise does not compress, so the picture is large as a JPEG.
std::string MakePicture(const testing::ScratchDir& dir, const char* name, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  std::mt19937 rng(static_cast<unsigned>(w * 31 + h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      img.setPixel(x, y, qRgb(static_cast<int>(rng() % 256), (x * 255) / w, (y * 255) / h));
  std::string path = (dir / name).string();
  EXPECT_TRUE(img.save(QString::fromStdString(path), "JPEG", 95));
  return path;
}

QSize SizeOf(const std::string& path) { return QImageReader(QString::fromStdString(path)).size(); }

TEST(ShrinkJPG, LargePictureMeetsBothLimits) {
  testing::ScratchDir dir;
  std::string src = MakePicture(dir, "gross.jpg", 2400, 1600);
  std::string dst = (dir / "out.jpg").string();
  cUtil util;
  util.ShrinkJPG(src, dst, 60000, 800, false, "");
  EXPECT_LE(std::filesystem::file_size(dst), 60000u);
  QSize s = SizeOf(dst);
  EXPECT_LE(s.width(), 800);
  EXPECT_NEAR(static_cast<double>(s.width()) / s.height(), 1.5, 0.02);
  EXPECT_FALSE(std::filesystem::exists(dst + ".part"));
}

TEST(ShrinkJPG, SmallAndPortraitPicturesKeepTheirWidth) {
  testing::ScratchDir dir;
  cUtil util;
  std::string small = MakePicture(dir, "klein.jpg", 120, 90);
  util.ShrinkJPG(small, (dir / "k.jpg").string(), 1000000, 800, false, "");
  EXPECT_EQ(SizeOf((dir / "k.jpg").string()), QSize(120, 90));

  std::string portrait = MakePicture(dir, "hoch.jpg", 600, 1400);
  util.ShrinkJPG(portrait, (dir / "h.jpg").string(), 150000, 800, true, "© Demo");
  EXPECT_EQ(SizeOf((dir / "h.jpg").string()), QSize(600, 1400 * 600 / 600));
  EXPECT_LE(std::filesystem::file_size(dir / "h.jpg"), 150000u);
}

TEST(ShrinkJPG, TightByteLimitShrinksFurtherRatherThanFail) {
  testing::ScratchDir dir;
  std::string src = MakePicture(dir, "gross.jpg", 1600, 1200);
  cUtil util;
  util.ShrinkJPG(src, (dir / "t.jpg").string(), 8000, 1600, false, "");
  EXPECT_LE(std::filesystem::file_size(dir / "t.jpg"), 8000u);
  EXPECT_GT(std::filesystem::file_size(dir / "t.jpg"), 0u);
}

TEST(ShrinkJPG, BrokenMissingOrSelfTargetFailsAndKeepsFiles) {
  testing::ScratchDir dir;
  cUtil util;
  dir.Write("kaputt.jpg", "this is no picture");
  dir.Write("alt.jpg", "old target");
  try {
    util.ShrinkJPG((dir / "kaputt.jpg").string(), (dir / "alt.jpg").string(), 64000, 400, false,
                   "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 50015);
    EXPECT_NE(e.description().find("kaputt.jpg"), std::string::npos);
  }
  EXPECT_EQ(dir.Read("alt.jpg"), "old target");

  try {
    util.ShrinkJPG((dir / "fehlt.jpg").string(), (dir / "neu.jpg").string(), 64000, 400, false, "");
    FAIL() << "no error";
  } catch (const HostError& e) {
    EXPECT_EQ(e.number(), 53);
    EXPECT_NE(e.description().find("fehlt.jpg"), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "neu.jpg"));

  std::string src = MakePicture(dir, "selbst.jpg", 300, 200);
  auto before = std::filesystem::file_size(src);
  EXPECT_THROW(util.ShrinkJPG(src, src, 1000, 100, false, ""), HostError);
  EXPECT_EQ(std::filesystem::file_size(src), before);
}

// A JPEG cut short still decodes, its missing rows grey; it must fail like any broken picture.
// Bytes after the end marker, as some cameras write, do not make a picture broken.
TEST(ShrinkJPG, TruncatedJpegFailsAndTrailingBytesDoNot) {
  testing::ScratchDir dir;
  cUtil util;
  MakePicture(dir, "ganz.jpg", 640, 480);
  const std::string whole = dir.Read("ganz.jpg");
  struct Case {
    const char* name;
    std::string bytes;
    bool ok;
  };
  const Case cases[] = {
      {"halb.jpg", whole.substr(0, whole.size() / 2), false},
      {"ohne_ende.jpg", whole.substr(0, whole.size() - 2), false},
      {"nur_kopf.jpg", whole.substr(0, 600), false},
      {"anhang.jpg", whole + std::string(100, '\0') + "trailer", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write(c.name, c.bytes);
    std::string target = (dir / (std::string("out_") + c.name)).string();
    try {
      util.ShrinkJPG((dir / c.name).string(), target, 64000, 400, true, "© Demo");
      EXPECT_TRUE(c.ok);
      EXPECT_TRUE(std::filesystem::exists(target));
    } catch (const HostError& e) {
      EXPECT_FALSE(c.ok);
      EXPECT_EQ(e.number(), 50015);
      EXPECT_NE(e.description().find(c.name), std::string::npos);
      EXPECT_FALSE(std::filesystem::exists(target));
    }
  }
}

TEST(JPGFrameShrink, DrawsTheFrameTheSettingsAskFor) {
  testing::ScratchDir dir;
  std::string src = MakePicture(dir, "titel.jpg", 400, 300);

  // A settings object by name, as the session hands DBIni over.
  class Settings : public Dispatch {
   public:
    Variant Invoke(std::string_view name, unsigned, std::span<Variant> a) override {
      if (!NameIs(name, "getStr")) ThrowNoMember(name);
      std::string key = a[1].str();
      if (key == "OnlineFrameVisible") return Variant("1");
      if (key == "OnlineFrameWidth") return Variant("12");
      if (key == "OnlineFrameColor") return Variant("#0000FF");
      return a[2];
    }
    std::string TypeName() const override { return "cDbIni"; }
  } settings;

  cUtil util;
  util.JPGFrameInit(settings);
  util.JPGFrameShrink(src, (dir / "f.jpg").string(), 100000, 200, false, "", dir.path().string());
  QImage out(QString::fromStdString((dir / "f.jpg").string()));
  ASSERT_EQ(out.width(), 200);
  QColor corner = out.pixelColor(3, 3);
  EXPECT_GT(corner.blue(), 200);
  EXPECT_LT(corner.red(), 60);
  QColor inner = out.pixelColor(100, 75);
  EXPECT_FALSE(inner.blue() > 200 && inner.red() < 60 && inner.green() < 60);
}

}  // namespace
}  // namespace fern
