#include "vessarine/app/progress_ctrl.h"

#include <QPainter>
#include <QPalette>
#include <algorithm>

CProgressCtrl g_progress;

CProgressBarWidget::CProgressBarWidget(QWidget* parent) : QWidget(parent) {}

void CProgressBarWidget::SetState(int lower, int upper, int pos) {
  if (lower == m_lower && upper == m_upper && pos == m_pos) return;
  m_lower = lower;
  m_upper = upper;
  m_pos = pos;
  update();
}

int CProgressBarWidget::BlockWidth() const {
  // Blocks are two thirds of the inner height wide, as the classic control
  // draws them.
  int inner = std::max(1, height() - 4);
  return std::max(2, inner * 2 / 3);
}

int CProgressBarWidget::FilledBlocks() const {
  if (m_upper <= m_lower) return 0;
  int inner = std::max(0, width() - 4);
  long long filled =
      static_cast<long long>(inner) * (m_pos - m_lower) / (m_upper - m_lower);
  int step = BlockWidth() + 2;
  // A started block is drawn whole, like the classic control does.
  return static_cast<int>((filled + step - 1) / step);
}

void CProgressBarWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QPalette& pal = palette();
  p.fillRect(rect(), pal.color(QPalette::Window));
  // WS_BORDER: a one-pixel frame.
  p.setPen(pal.color(QPalette::Shadow));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
  int inner = width() - 4;
  int blockWidth = BlockWidth();
  int blocks = FilledBlocks();
  QColor fill = pal.color(QPalette::Highlight);
  for (int i = 0; i < blocks; ++i) {
    int x = 2 + i * (blockWidth + 2);
    int w = std::min(blockWidth, 2 + inner - x);
    if (w <= 0) break;
    p.fillRect(x, 2, w, height() - 4, fill);
  }
}

void CProgressCtrl::Apply() {
  if (m_bar) m_bar->SetState(m_lower, m_upper, m_pos);
}

void CProgressCtrl::SetRange(short lower, short upper) {
  m_lower = lower;
  m_upper = upper;
  m_pos = std::clamp(m_pos, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
  Apply();
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
  lower = m_lower;
  upper = m_upper;
}

int CProgressCtrl::SetPos(int pos) {
  int old = m_pos;
  m_pos = std::clamp(pos, std::min(m_lower, m_upper), std::max(m_lower, m_upper));
  Apply();
  return old;
}

int CProgressCtrl::GetPos() const { return m_pos; }

int CProgressCtrl::SetStep(int step) {
  int old = m_step;
  m_step = step;
  return old;
}

int CProgressCtrl::StepIt() {
  int old = m_pos;
  long long pos = static_cast<long long>(m_pos) + m_step;
  if (pos > m_upper && m_upper > m_lower) {
    // Start again from the bottom: one step past the top is the bottom.
    long long span = static_cast<long long>(m_upper) - m_lower + 1;
    pos = m_lower + (pos - m_upper - 1) % span;
  } else if (pos < m_lower) {
    pos = m_lower;
  }
  m_pos = static_cast<int>(pos);
  Apply();
  return old;
}
