#include "host/host_picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/host_error.h"

namespace fern::host {
namespace {

constexpr const char* kSource = "ShrinkJPG";

[[noreturn]] void Fail(int32_t number, const std::string& text) {
  throw HostError(number, text, kSource);
}

QString ToQ(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// Text needs fonts, and Qt's fonts need a QGuiApplication. An unattended run has none, so one is
// made on the offscreen platform the first time a text is drawn.
bool EnsureFonts() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return true;
  if (QCoreApplication::instance()) return false;  // a non-GUI application: no text
  static int argc = 3;
  static char arg0[] = "fern", arg1[] = "-platform", arg2[] = "offscreen";
  static char* argv[] = {arg0, arg1, arg2, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv);
  return app != nullptr;
}

void DrawBandText(QImage& img, const QString& text, QRect band, QColor back, QColor fore,
                  Qt::Alignment align) {
  if (text.isEmpty() || !EnsureFonts()) return;
  QPainter p(&img);
  QFont f("DejaVu Sans");
  f.setPixelSize(std::max(8, band.height() * 7 / 10));
  p.setFont(f);
  QFontMetrics fm(f);
  int textWidth = fm.horizontalAdvance(text) + band.height() / 2;
  QRect box = band;
  box.setWidth(std::min(band.width(), textWidth));
  if (align & Qt::AlignRight) box.moveRight(band.right());
  if (back.alpha() > 0) p.fillRect(box, back);
  p.setPen(fore);
  p.drawText(box, Qt::AlignCenter, text);
}

void DrawCopyright(QImage& img, const std::string& text) {
  int h = std::clamp(img.height() / 20, 10, 28);
  QRect band(0, img.height() - h - 2, img.width() - 2, h);
  DrawBandText(img, QString::fromStdString(text), band, QColor(0, 0, 0, 110), Qt::white,
               Qt::AlignRight);
}

void DrawFrame(QImage& img, const PictureFrame& frame, bool thumbnail) {
  if (frame.visible) {
    int w = thumbnail ? std::max(1, frame.width / 2) : frame.width;
    w = std::min(w, std::min(img.width(), img.height()) / 4);
    if (w > 0) {
      QPainter p(&img);
      QColor c(QRgb(frame.color));
      p.fillRect(0, 0, img.width(), w, c);
      p.fillRect(0, img.height() - w, img.width(), w, c);
      p.fillRect(0, 0, w, img.height(), c);
      p.fillRect(img.width() - w, 0, w, img.height(), c);
    }
  }
  if (frame.eyecatcherVisible && !frame.eyecatcherText.empty()) {
    int h = std::clamp(img.height() / (thumbnail ? 8 : 12), 10, 40);
    DrawBandText(img, QString::fromStdString(frame.eyecatcherText), QRect(0, h / 2, img.width(), h),
                 QColor(QRgb(frame.eyecatcherColor)), Qt::white, Qt::AlignLeft);
  }
}

QByteArray Encode(const QImage& img, int quality) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  img.save(&buf, "JPEG", quality);
  return bytes;
}

// libjpeg fills the rows of a JPEG that ends early with grey and reports success, so the marker
// structure is walked to its end-of-image marker. Segment lengths skip embedded thumbnails, whose
// own end marker would otherwise pass for the picture's.
bool JpegComplete(const QByteArray& d) {
  auto at = [&d](qsizetype i) { return static_cast<unsigned char>(d[i]); };
  auto standalone = [](unsigned char m) { return m == 0x01 || (m >= 0xD0 && m <= 0xD7); };
  const qsizetype n = d.size();
  qsizetype i = 2;
  while (i + 1 < n) {
    if (at(i) != 0xFF) return false;
    const unsigned char m = at(i + 1);
    if (m == 0xFF) {  // fill byte before a marker
      ++i;
      continue;
    }
    if (m == 0xD9) return true;
    if (standalone(m)) {
      i += 2;
      continue;
    }
    if (i + 3 >= n) return false;
    const qsizetype len = (qsizetype{at(i + 2)} << 8) | at(i + 3);
    if (len < 2) return false;
    i += 2 + len;
    if (m == 0xDA)  // the scan's coded data runs to the next marker
      while (i + 1 < n && (at(i) != 0xFF || at(i + 1) == 0 || standalone(at(i + 1)))) ++i;
  }
  return false;
}

bool IsJpeg(const QByteArray& d) {
  return d.size() >= 2 && static_cast<unsigned char>(d[0]) == 0xFF &&
         static_cast<unsigned char>(d[1]) == 0xD8;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  return std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

}  // namespace

void ShrinkPicture(const ShrinkRequest& r) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(r.source, ec))
    Fail(err::kFileNotFound, "Bilddatei nicht gefunden: " + r.source.string());
  if (SameFile(r.source, r.target))
    Fail(err::kInvalidValue, "Zieldatei ist die Bilddatei selbst: " + r.source.string());

  QFile file(ToQ(r.source));
  if (!file.open(QIODevice::ReadOnly))
    Fail(err::kInvalidValue, "Bilddatei nicht lesbar: " + r.source.string() + " (" +
                                 file.errorString().toStdString() + ")");
  QByteArray data = file.readAll();
  file.close();
  QBuffer buffer(&data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer);
  reader.setAutoTransform(true);
  QImage img = reader.read();
  if (img.isNull())
    Fail(err::kInvalidValue, "Bilddatei nicht lesbar: " + r.source.string() + " (" +
                                 reader.errorString().toStdString() + ")");
  if (IsJpeg(data) && !JpegComplete(data))
    Fail(err::kInvalidValue, "Bilddatei unvollständig: " + r.source.string());
  img = img.convertToFormat(QImage::Format_RGB32);

  if (r.maxWidth > 0 && img.width() > r.maxWidth)
    img = img.scaledToWidth(r.maxWidth, Qt::SmoothTransformation);
  if (r.frame) DrawFrame(img, *r.frame, r.thumbnail);
  if (!r.copyright.empty()) DrawCopyright(img, r.copyright);

  // Lower the quality step by step; when even the lowest does not fit, make the picture smaller.
  QByteArray bytes;
  for (;;) {
    for (int q = 90; q >= 10; q -= 10) {
      bytes = Encode(img, q);
      if (r.maxBytes <= 0 || bytes.size() <= r.maxBytes) break;
    }
    if (r.maxBytes <= 0 || bytes.size() <= r.maxBytes) break;
    if (img.width() <= 16 || img.height() <= 16)
      Fail(err::kInvalidValue,
           "Bild passt nicht in " + std::to_string(r.maxBytes) + " Bytes: " + r.source.string());
    img = img.scaled(img.width() * 3 / 4, img.height() * 3 / 4, Qt::KeepAspectRatio,
                     Qt::SmoothTransformation);
  }
  if (bytes.isEmpty()) Fail(err::kInvalidValue, "JPEG nicht erzeugt: " + r.target.string());

  std::filesystem::path tmp = r.target;
  tmp += ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
    out.close();
    if (!out) {
      std::filesystem::remove(tmp, ec);
      Fail(err::kInvalidValue, "Datei kann nicht geschrieben werden: " + r.target.string());
    }
  }
  std::filesystem::rename(tmp, r.target, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    Fail(err::kInvalidValue, "Datei kann nicht geschrieben werden: " + r.target.string());
  }
}

}  // namespace fern::host
