// A one-line text shown as a link: bold and black, dark red with the hand cursor under the
// mouse, grey when it carries no link. A mouse button pressed on it raises MouseDown unless the
// label was told that no link is possible.
#pragma once

#include <QLabel>

#include <cstdint>
#include <functional>
#include <string>

namespace fern {

class lnkLabel : public QLabel {
 public:
  // Colours as the host writes them (red + green * 256 + blue * 65536).
  static constexpr int32_t kLinkColour = 198 + 30 * 256 + 20 * 65536;
  static constexpr int32_t kTextColour = 0;
  static constexpr int32_t kNoLinkColour = 128 + 128 * 256 + 128 * 65536;
  static constexpr int32_t kInitialColour = 255;

  explicit lnkLabel(QWidget* parent = nullptr);

  // The caption as stored: trimmed, line breaks and tabs as blanks, and "&" doubled unless the
  // text already holds "&&" (so an ampersand is shown, not taken as an access key). An empty
  // caption shows the default text of a label without a link.
  std::string Caption() const { return caption_; }
  void SetCaption(const std::string& text);

  // No link: presses raise nothing until the next caption; grey, empty.
  void NoLinkPossible();
  // The look of a label without a link: grey, plain, the translated default text and hint.
  void NOLINK();
  // The translated "verknüpfen".
  static std::string DefaultText();

  int32_t Forecolor() const { return colour_; }
  int32_t Alignment() const;  // 0 left, 1 right, 2 centre
  void SetAlignment(int32_t alignment);
  bool NoLink() const { return noLink_; }
  bool Hovered() const { return hovered_; }

  // Button and Shift as VB numbers (1 left, 2 right, 4 middle; 1 Shift, 2 Ctrl, 4 Alt), X and Y
  // in pixels from the label's corner; all may be changed by the handler.
  std::function<void(int16_t& Button, int16_t& Shift, float& X, float& Y)> MouseDown;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void SetColour(int32_t colour);
  void SetFontStyle(bool bold);
  void PointerInside(bool inside);

  std::string caption_;
  int32_t colour_ = kInitialColour;
  bool noLink_ = false;
  bool hovered_ = false;
};

}  // namespace fern
