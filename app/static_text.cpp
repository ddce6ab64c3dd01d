#include "vessarine/app/static_text.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

// Ink the text of any control may have: an ideograph, a capital and the
// Latin descenders. Every control of a font places its baseline alike.
const QString& InkProbe() {
  static const QString probe = QStringLiteral("\u56FDMgjpqy");
  return probe;
}

double PixelSize(const QFont& font, double dpi) {
  return font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * dpi / 72.0;
}

void SetPixelSize(QFont& font, double px, double dpi) { font.setPointSizeF(px * 72.0 / dpi); }

}  // namespace

CStaticText::CStaticText(const QString& text, Align align, QWidget* parent)
    : QLabel(text, parent), m_align(align) {
  setTextFormat(Qt::PlainText);
  setFocusPolicy(Qt::NoFocus);
}

void CStaticText::FitTogether(const QList<CStaticText*>& controls) {
  if (controls.isEmpty()) return;
  QFont smallest = controls.front()->DrawnFont();
  for (CStaticText* control : controls) {
    const QFont drawn = control->DrawnFont();
    if (drawn.pointSizeF() < smallest.pointSizeF()) smallest = drawn;
  }
  for (CStaticText* control : controls) control->setFont(smallest);
}

void CStaticText::SetLineCell(double px) {
  m_cell = px;
  m_laidOut = false;
  update();
}

QFont CStaticText::DrawnFont() const {
  Layout();
  return m_drawnFont;
}

void CStaticText::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) m_laidOut = false;
  QLabel::changeEvent(event);
}

void CStaticText::resizeEvent(QResizeEvent* event) {
  m_laidOut = false;
  QLabel::resizeEvent(event);
}

void CStaticText::Layout() const {
  if (m_laidOut && m_laidOutText == text()) return;
  m_laidOut = true;
  m_laidOutText = text();
  const QStringList lines = text().split(QLatin1Char('\n'));
  const double dpi = logicalDpiY() > 0 ? logicalDpiY() : 96.0;
  const double dpr = std::max(1.0, devicePixelRatioF());

  QFont candidate = font();
  const double cell = m_cell > 0 ? m_cell : QFontMetricsF(candidate, this).height();
  m_pitch = std::min(cell, height() / static_cast<double>(std::max<qsizetype>(1, lines.size())));

  // From the control's own size down, in whole device pixels, to the first
  // size whose ink fits a line and whose widest line fits the width. Ink is
  // measured at the device size, as the glyphs are hinted and drawn there.
  const double nominal = PixelSize(candidate, dpi);
  for (int device = static_cast<int>(std::floor(nominal * dpr + 1e-6)); device >= 1; --device) {
    QFont deviceFont = candidate;
    deviceFont.setPixelSize(device);
    QFontMetricsF metrics(deviceFont);
    QRectF ink = metrics.tightBoundingRect(InkProbe());
    double widest = 0;
    for (const QString& line : lines) {
      if (line.isEmpty()) continue;
      const QRectF lineInk = metrics.tightBoundingRect(line);
      ink = ink.united(lineInk);
      // Ink left of the origin moves the line right (see paintEvent).
      const double shift = std::max(0.0, -lineInk.left());
      widest = std::max(widest, std::max(metrics.horizontalAdvance(line), lineInk.right()) + shift);
    }
    SetPixelSize(candidate, device / dpr, dpi);
    m_drawnFont = candidate;
    m_baseline = std::ceil(-ink.top()) / dpr;
    const double inkHeight = std::ceil(-ink.top()) + ink.bottom();
    if (inkHeight <= m_pitch * dpr + 0.01 && widest <= width() * dpr + 0.01) break;
  }
}

void CStaticText::paintEvent(QPaintEvent*) {
  Layout();
  QPainter painter(this);
  painter.setFont(m_drawnFont);
  painter.setPen(palette().color(foregroundRole()));
  const QFontMetricsF metrics(m_drawnFont, this);
  const QStringList lines = text().split(QLatin1Char('\n'));
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString& line = lines[i];
    const double y = static_cast<double>(i) * m_pitch + m_baseline;
    const double advance = metrics.horizontalAdvance(line);
    switch (m_align) {
      case Align::Left:
        // A glyph reaching left of its origin moves the line right, so
        // that no ink is cut off at the edge.
        painter.drawText(
            QPointF(std::ceil(std::max(0.0, -metrics.tightBoundingRect(line).left())), y), line);
        break;
      case Align::Centre:
        painter.drawText(QPointF((width() - advance) / 2.0, y), line);
        break;
      case Align::Spread: {
        // Equal gaps between the characters; the first starts at the left
        // edge and the last ends at the right one.
        const qsizetype count = line.size();
        const double gap = count > 1 ? (width() - advance) / static_cast<double>(count - 1) : 0;
        double x = count > 1 ? 0 : (width() - advance) / 2.0;
        for (QChar c : line) {
          painter.drawText(QPointF(x, y), QString(c));
          x += metrics.horizontalAdvance(c) + gap;
        }
        break;
      }
    }
  }
}
