// The main dialog (template 102): both query areas, the result boxes, the
// version box, the update button and its progress bar.
#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "query/queries.h"
#include "update/update.h"

class QFont;
class QLineEdit;
class QPlainTextEdit;
class CVessarineDlg;

// 1 once the title font exists; never cleared.
extern uint8_t g_bTitleFontCreated;
// The title font, made at the first colour request and kept for the run.
extern QFont* g_pTitleFont;

// Carries out the update threads' requests on the user-interface thread and
// waits for each (message boxes until closed). Once the dialog is closing,
// every request returns at once without touching the window.
class CQtUpdateUi : public QObject, public UpdateUi {
  Q_OBJECT
 public:
  explicit CQtUpdateUi(CVessarineDlg* dlg);
  void StepProgress() override;
  void SetProgressPos(int pos) override;
  void ShowMessage(const char* caption, const char* text) override;
  void SetVersionText(const std::string& text) override;
  void SetClosing() { m_closing.store(true); }

 private:
  template <class F>
  void Run(F&& work);
  CVessarineDlg* m_dlg;
  std::atomic<bool> m_closing{false};
};

class CVessarineDlg : public QDialog, public QueryHost {
  Q_OBJECT
 public:
  // Gives the bound variables their initial texts, loads the database and
  // builds the window from template 102.
  explicit CVessarineDlg(QWidget* parent = nullptr);
  ~CVessarineDlg() override;

  // Result of a dialog ended by 退出, Escape or the close box.
  static constexpr int kIdCancel = 2;

  // Data exchange. Push (false): each bound variable into its box. Pull
  // (true): each box's whole text into its variable.
  void UpdateData(bool saveAndValidate);
  void Push() override { UpdateData(false); }
  void Pull() { UpdateData(true); }
  void EnableControl(int id, bool enable) override;

  // The queries, carried out by the core.
  void MacLookup(int mode);
  void CompanySearch(int mode);

  // Message map handlers.
  void OnPaint(QPaintEvent* event);
  QColor OnCtlColor(QWidget* control);
  void OnMacMatch();
  void OnListAllMacs();
  void OnCompanyMatch();
  void OnCompanyContinue();
  void OnCompanyAll();
  void OnChangeMacInput();
  void OnChangeCompanyInput();
  void OnUpdateDb();
  void OnExit();
  void OnOK();
  void OnCancel();

  // The child control of an id (its objectName), or nullptr.
  QWidget* GetDlgItem(int id) const;
  // What box `id` shows, as GBK bytes (what a pull would read).
  std::string BoxText(int id) const;
  // How often box `id` has been written by a push; pushes and pulls so far.
  int BoxWriteCount(int id) const;
  int PushCount() const { return m_pushCount; }
  int PullCount() const { return m_pullCount; }
  // Dialog base units in pixels (horizontal, vertical).
  int BaseUnitX() const { return m_baseX; }
  int BaseUnitY() const { return m_baseY; }

  // Shows an update message box owned by the dialog: OK only, no icon.
  void ShowUpdateMessage(const char* caption, const char* text);

  // Listing address used by the next update instead of the registry's; empty
  // restores the registry's.
  static void SetListingUrl(std::string url);
  // How many title fonts have been made in this process (one at most).
  static int TitleFontCreations();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void accept() override;
  void reject() override;
  void done(int result) override;

 private:
  struct Binding {
    int id;
    std::string* variable;
    QLineEdit* line = nullptr;
    QPlainTextEdit* multi = nullptr;
    std::string shown{};   // the bytes last written into the box
    bool edited = false;   // changed since then, not by a push
    int writes = 0;
  };

  void CreateControls();
  void OnInitDialog();
  void WireMessageMap();
  void WriteBox(Binding& binding, const std::string& text);
  std::string ShownText(const Binding& binding) const;
  const Binding* FindBinding(int id) const;
  bool AskUpdate();

  QIcon m_hIcon;
  int m_baseX = 6;
  int m_baseY = 12;
  std::vector<QWidget*> m_controls;  // template order
  std::array<Binding, 5> m_bindings;
  bool m_exchanging = false;
  int m_pushCount = 0;
  int m_pullCount = 0;
  CQtUpdateUi* m_updateUi;
};
