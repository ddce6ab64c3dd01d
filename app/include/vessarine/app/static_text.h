// A static text control drawn as the classic one draws it: its lines at a
// fixed pitch (the font's cell height) from the top of the control, so that
// a one-line text fills a control of one cell. Fonts whose ascent and
// descent are taller than their ink (most CJK fallback faces) would not fit
// that pitch by their own line height; the control places the ink instead,
// and shrinks the font only where the ink itself would be cut off.
#pragma once

#include <QFont>
#include <QLabel>

class CStaticText : public QLabel {
  Q_OBJECT
 public:
  enum class Align {
    Left,
    Centre,
    // The characters spread evenly over the whole width: a separator line
    // reaches from edge to edge whatever the width of its characters.
    Spread,
  };

  CStaticText(const QString& text, Align align, QWidget* parent = nullptr);

  // Gives every control the smallest of their drawn fonts, so that texts
  // side by side are of one size.
  static void FitTogether(const QList<CStaticText*>& controls);

  // Height of one text line in px (the pitch); 0 takes the font's height.
  void SetLineCell(double px);
  // The font the text is drawn in: the control's font, or a smaller size of
  // it where the control's font would not fit a line or the width.
  QFont DrawnFont() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Layout() const;

  Align m_align;
  double m_cell = 0;
  // Layout, made again when the text, font, size or cell changes.
  mutable bool m_laidOut = false;
  mutable QString m_laidOutText;
  mutable QFont m_drawnFont;
  mutable double m_pitch = 0;
  mutable double m_baseline = 0;
};
