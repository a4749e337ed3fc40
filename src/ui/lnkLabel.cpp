#include "ui/lnkLabel.h"

#include <QEnterEvent>
#include <QMouseEvent>

#include "core/host_session.h"
#include "host/LanguagePack.h"
#include "platform/vb.h"

namespace fern {

namespace {

// The label's Alignment property.
constexpr int32_t kAlignLeft = 0;
constexpr int32_t kAlignRight = 1;
constexpr int32_t kAlignCenter = 2;

QColor ToQColor(int32_t vbColour) {
  return QColor(vbColour & 0xFF, (vbColour >> 8) & 0xFF, (vbColour >> 16) & 0xFF);
}

std::string Translate(const std::string& german) {
  const HostSession& s = Session();
  return s.g_oLanguagePack ? s.g_oLanguagePack->TranslateStringUniCode(german) : german;
}

// What a caption looks like on screen: "&&" is one ampersand, a single "&" marks an access key
// and is not shown.
QString Shown(const std::string& caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size())
      ++i;
    else if (caption[i] == '&')
      continue;
    out += caption[i];
  }
  return QString::fromStdString(out);
}

int16_t VbButton(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton:
      return 1;
    case Qt::RightButton:
      return 2;
    case Qt::MiddleButton:
      return 4;
    default:
      return 0;
  }
}

int16_t VbShift(Qt::KeyboardModifiers m) {
  return static_cast<int16_t>((m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) |
                              (m & Qt::AltModifier ? 4 : 0));
}

}  // namespace

lnkLabel::lnkLabel(QWidget* parent) : QLabel(parent) {
  setMouseTracking(true);
  setContentsMargins(3, 0, 0, 0);
  setTextFormat(Qt::PlainText);
  SetColour(kInitialColour);
}

std::string lnkLabel::DefaultText() { return Translate("verknüpfen"); }

void lnkLabel::SetCaption(const std::string& text) {
  noLink_ = false;
  if (text.empty()) {
    NOLINK();
    return;
  }
  std::string caption = vb::Trim(text);
  for (const char* c : {"\r", "\t", "\n"}) caption = vb::Replace(caption, c, " ");
  if (caption.find("&&") == std::string::npos) caption = vb::Replace(caption, "&", "&&");
  caption_ = caption;
  setText(Shown(caption_));
  setToolTip(Shown(caption_));
  SetFontStyle(true);
  SetColour(kTextColour);
}

void lnkLabel::NoLinkPossible() {
  noLink_ = true;
  SetColour(kNoLinkColour);
  QFont f = font();
  f.setUnderline(false);
  setFont(f);
  caption_.clear();
  setText({});
}

void lnkLabel::NOLINK() {
  SetColour(kNoLinkColour);
  SetFontStyle(false);
  caption_ = DefaultText();
  setText(Shown(caption_));
  setToolTip(QString::fromStdString(
      Translate("Stellen Sie eine Verbindung zwischen zwei Einträgen her.")));
}

int32_t lnkLabel::Alignment() const {
  Qt::Alignment a = alignment();
  if (a & Qt::AlignRight) return kAlignRight;
  if (a & Qt::AlignHCenter) return kAlignCenter;
  return kAlignLeft;
}

void lnkLabel::SetAlignment(int32_t value) {
  Qt::Alignment h = value == kAlignRight    ? Qt::AlignRight
                    : value == kAlignCenter ? Qt::AlignHCenter
                                            : Qt::AlignLeft;
  setAlignment(h | Qt::AlignVCenter);
}

void lnkLabel::SetColour(int32_t colour) {
  colour_ = colour;
  QPalette p = palette();
  p.setColor(QPalette::WindowText, ToQColor(colour));
  setPalette(p);
}

void lnkLabel::SetFontStyle(bool bold) {
  QFont f = font();
  f.setUnderline(false);
  f.setBold(bold);
  setFont(f);
}

void lnkLabel::PointerInside(bool inside) {
  if (inside) {
    hovered_ = true;
    setCursor(Qt::PointingHandCursor);
    SetColour(kLinkColour);
    return;
  }
  hovered_ = false;
  unsetCursor();
  if (caption_ == DefaultText()) {
    NOLINK();
  } else {
    SetColour(kTextColour);
    setBackgroundRole(parentWidget() ? parentWidget()->backgroundRole() : QPalette::Window);
  }
}

void lnkLabel::mousePressEvent(QMouseEvent* event) {
  QLabel::mousePressEvent(event);
  if (noLink_ || !MouseDown) return;
  int16_t button = VbButton(event->button());
  int16_t shift = VbShift(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  MouseDown(button, shift, x, y);
}

void lnkLabel::mouseMoveEvent(QMouseEvent* event) {
  QLabel::mouseMoveEvent(event);
  QPointF p = event->position();
  PointerInside(p.x() >= 0 && p.y() >= 0 && p.x() <= width() && p.y() <= height());
}

void lnkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  PointerInside(true);
}

void lnkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  PointerInside(false);
}

}  // namespace fern
