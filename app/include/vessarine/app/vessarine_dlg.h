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

#include "vessarine/app/dialog_units.h"
#include "vessarine/update/update.h"

class QFont;
class QLineEdit;
class QPlainTextEdit;
class CVessarineDlg;

// The variables bound to the dialog's boxes (GBK), process-wide so that they
// outlive a dialog; g_strDbVersion (box 1009) is in db/loader.h.
extern std::string g_strMacInput;       // edit 1004
extern std::string g_strCompanyInput;   // edit 1006
extern std::string g_strMacResult;      // box 1007
extern std::string g_strCompanyResult;  // box 1008
// Where the company search stands: the record 继续 resumes at and the matches
// shown so far.
extern int32_t g_nSearchPos;
extern int32_t g_nMatchCount;

// 1 once the title font exists; never cleared.
extern uint8_t g_bTitleFontCreated;
// The title font (Arial, cell height 20 px at 96 DPI, weight 600), made at
// the first colour request and kept for the run.
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

class CVessarineDlg : public QDialog {
  Q_OBJECT
 public:
  // Gives the bound variables their initial texts, loads the database and
  // builds the window from template 102, sized for the screen it opens on
  // and placed at the top left of that screen's free area. Updates fetch
  // the listings of `updateSource`; by default the registry's of the moment.
  explicit CVessarineDlg(UpdateSource updateSource = {}, QWidget* parent = nullptr);
  ~CVessarineDlg() override;

  // Result of a dialog ended by 退出, Escape or the close box.
  static constexpr int kIdCancel = 2;

  // Data exchange. Push (false): each bound variable into its box; a box is
  // written only when its text differs or is over 255 bytes long. Pull
  // (true): each box's whole text into its variable. Neither sets off the
  // input boxes' change handlers.
  void UpdateData(bool saveAndValidate);
  void EnableControl(int id, bool enable);

  // The child control of an id (its objectName), or nullptr.
  QWidget* GetDlgItem(int id) const;

  // Shows an update message box owned by the dialog: OK only, no icon.
  void ShowUpdateMessage(const char* caption, const char* text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void accept() override;
  void reject() override;
  void done(int result) override;

 private slots:
  // The message map's handlers, reached through the controls.
  void OnMacMatch();
  void OnListAllMacs();
  void OnCompanyMatch();
  void OnCompanyContinue();
  void OnCompanyAll();
  void OnChangeMacInput();
  void OnChangeCompanyInput();
  void OnUpdateDb();
  void OnExit();

 private:
  struct Binding {
    int id;
    std::string* variable;
    QLineEdit* line = nullptr;
    QPlainTextEdit* multi = nullptr;
    std::string shown{};   // the bytes last written into the box
    bool edited = false;   // changed since then, not by a push
  };

  void Push() { UpdateData(false); }
  void Pull() { UpdateData(true); }
  // Mode 0: look up g_strMacInput; mode 1: list every record. Either ends a
  // paged company search (继续 and 全部 disabled), writes g_strMacResult and
  // pushes.
  void MacLookup(int mode);
  // Mode 0 new search, 1 continue, 2 all: writes g_strCompanyResult and the
  // search position and count, pushes, and enables 继续 and 全部 after a
  // page of five was cut.
  void CompanySearch(int mode);
  void OnPaint(QPaintEvent* event);
  void OnCtlColor(QWidget* control);
  void OnOK();
  void OnCancel();

  void CreateControls();
  void OnInitDialog();
  void WireMessageMap();
  void WriteBox(Binding& binding, const std::string& text);
  std::string ShownText(const Binding& binding) const;
  bool AskUpdate();

  QIcon m_hIcon;
  UpdateSource m_updateSource;
  DialogUnits m_units;
  bool m_titleFontSet = false;
  std::vector<QWidget*> m_controls;  // template order
  std::array<Binding, 5> m_bindings;
  bool m_exchanging = false;
  CQtUpdateUi* m_updateUi;
};
