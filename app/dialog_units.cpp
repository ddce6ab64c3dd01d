#include "vessarine/app/dialog_units.h"

#include <algorithm>
#include <cmath>

int DialogUnits::MapX(int dlu) const {
  return static_cast<int>(std::lround(dlu * BaseUnitX() / 4.0));
}

int DialogUnits::MapY(int dlu) const {
  return static_cast<int>(std::lround(dlu * BaseUnitY() / 8.0));
}

QRect DialogUnits::Map(const QRect& dlu) const {
  const int left = MapX(dlu.x()), top = MapY(dlu.y());
  return QRect(left, top, MapX(dlu.x() + dlu.width()) - left, MapY(dlu.y() + dlu.height()) - top);
}

QSize DialogUnits::Map(const QSize& dlu) const {
  return QSize(MapX(dlu.width()), MapY(dlu.height()));
}

DialogUnits FitDialogUnits(const QSize& templateDlu, const QRect& available, const QRect& screen,
                           double logicalDpi) {
  const double dpiScale = logicalDpi > 0 ? logicalDpi / 96.0 : 1.0;
  const double clientW = templateDlu.width() * kBaseUnitX96 / 4.0 * dpiScale;
  const double clientH = templateDlu.height() * kBaseUnitY96 / 8.0 * dpiScale;
  if (clientW <= 0 || clientH <= 0 || available.isEmpty()) return DialogUnits(dpiScale);

  const double frameW = (kFrameAllowance96.left() + kFrameAllowance96.right()) * dpiScale;
  const double frameH = (kFrameAllowance96.top() + kFrameAllowance96.bottom()) * dpiScale;
  const double panel = available == screen ? screen.height() / 16.0 : 0.0;
  const double roomW = available.width() - frameW;
  const double roomH = available.height() - frameH - panel;
  double fit = std::min({1.0, roomW / clientW, roomH / clientH});
  // A screen too small for any sensible window still gets one, however
  // small, rather than none.
  fit = std::max(fit, 0.1);
  return DialogUnits(dpiScale * fit);
}
