// A block-filling progress bar (control 1002) and the control object that
// drives it, with the range/position/step operations of a classic progress
// control. Used on the user-interface thread only.
#pragma once

#include <QWidget>

class CProgressBarWidget : public QWidget {
  Q_OBJECT
 public:
  explicit CProgressBarWidget(QWidget* parent = nullptr);

  void SetState(int lower, int upper, int pos);
  // Number of blocks drawn at the current position and width.
  int FilledBlocks() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int BlockWidth() const;
  int m_lower = 0;
  int m_upper = 100;
  int m_pos = 0;
};

class CProgressCtrl {
 public:
  // Binds the object to its control; the first push of the dialog does this.
  void Attach(CProgressBarWidget* bar) { m_bar = bar; }
  void Detach() { m_bar = nullptr; }
  bool IsAttached() const { return m_bar != nullptr; }

  void SetRange(short lower, short upper);
  void GetRange(int& lower, int& upper) const;
  // Each returns the previous position (or step) like the control's messages.
  int SetPos(int pos);      // clamped into the range
  int GetPos() const;
  int SetStep(int step);
  // Advances by the step; past the top the bar starts again from the bottom.
  int StepIt();

 private:
  void Apply();
  CProgressBarWidget* m_bar = nullptr;
  int m_lower = 0;
  int m_upper = 100;
  int m_pos = 0;
  int m_step = 10;
};

// The progress bar of the main dialog, attached to control 1002.
extern CProgressCtrl g_progress;
