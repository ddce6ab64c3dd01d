// Dialog units of the main window's template, in the logical pixels of the
// screen it opens on.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

// The template's own font, SimSun 9 pt, has base units of 6 x 12 px at 96
// DPI: 4 horizontal and 8 vertical dialog units per base unit.
inline constexpr double kBaseUnitX96 = 6.0;
inline constexpr double kBaseUnitY96 = 12.0;

// What a window manager adds around the client area, in px at 96 DPI: an
// estimate, since the frame is only known once the window is mapped.
inline constexpr QMargins kFrameAllowance96{4, 32, 4, 4};

class DialogUnits {
 public:
  DialogUnits() = default;
  // `scale` multiplies the 96-DPI base units (logical DPI / 96, shrunk to fit).
  explicit DialogUnits(double scale) : m_scale(scale) {}

  double Scale() const { return m_scale; }
  double BaseUnitX() const { return kBaseUnitX96 * m_scale; }
  double BaseUnitY() const { return kBaseUnitY96 * m_scale; }
  // Dialog units to pixels, each edge rounded on its own so that adjacent
  // controls stay adjacent.
  int MapX(int dlu) const;
  int MapY(int dlu) const;
  QRect Map(const QRect& dlu) const;
  QSize Map(const QSize& dlu) const;
  // Pixels at 96 DPI (the title font's cell height) to pixels here.
  double Px(double px96) const { return px96 * m_scale; }

 private:
  double m_scale = 1.0;
};

// The units for a template of `templateDlu` on a screen of `screen` with the
// free area `available` (both in logical px) and `logicalDpi`: the template
// font's base units at that DPI, shrunk as a whole, never enlarged, until
// the client area plus the frame allowance fits `available`. When the
// desktop reports no panel (`available` is the whole screen) a sixteenth of
// the screen height is kept free for one.
DialogUnits FitDialogUnits(const QSize& templateDlu, const QRect& available, const QRect& screen,
                           double logicalDpi);
