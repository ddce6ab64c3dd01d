#include "vessarine/startup/startup.h"
#include "vessarine/app/vessarine_dlg.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QProxyStyle>
#include <QScreen>
#include <QScrollBar>
#include <QThread>
#include <cmath>
#include <ctime>
#include <utility>

#include "vessarine/app/box_text.h"
#include "vessarine/app/controls.h"
#include "vessarine/app/dialog_texts.h"
#include "vessarine/app/program_icon.h"
#include "vessarine/app/progress_ctrl.h"
#include "vessarine/app/static_text.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "vessarine/query/format.h"
#include "vessarine/engine/window.h"
#include "vessarine/update/update_texts.h"

std::string g_strMacInput;
std::string g_strCompanyInput;
std::string g_strMacResult;
std::string g_strCompanyResult;
int32_t g_nSearchPos = 0;
int32_t g_nMatchCount = 0;

uint8_t g_bTitleFontCreated = 0;
QFont* g_pTitleFont = nullptr;

namespace {

// A MAC result longer than this is replaced by a notice before a new company
// search: every push and pull would copy it again.
constexpr size_t kMacResultLimit = 5000;

// Pushes compare a box with its variable only up to this length.
constexpr size_t kPushCompareLimit = 255;

enum class Kind { Button, Edit, MultiEdit, VersionEdit, Static, StaticCentre, Rule, Progress };

struct ControlDef {
  int id;
  Kind kind;
  const char* text;  // GBK
  int x, y, w, h;    // dialog units
};

// Template 102, in template order (also the creation and Tab order).
const ControlDef kTemplate102[] = {
    {IDC_EXIT, Kind::Button, kDlgExit, 407, 394, 50, 14},
    {IDC_UPDATE_DB, Kind::Button, kDlgUpdateDb, 164, 372, 50, 14},
    {IDC_MAC_MATCH, Kind::Button, kDlgMatch, 7, 85, 38, 14},
    {IDC_MAC_INPUT, Kind::Edit, "", 7, 41, 117, 12},
    {IDC_COMPANY_MATCH, Kind::Button, kDlgMatch, 243, 86, 32, 14},
    {IDC_COMPANY_INPUT, Kind::Edit, "", 241, 41, 116, 12},
    {IDC_CONTACT, Kind::Static, kDlgContact, 7, 433, 242, 8},
    {-1, Kind::Static, kDlgMacFormat, 7, 64, 193, 8},
    {IDC_BUILD, Kind::Static, kDlgBuild, 410, 433, 47, 8},
    {-1, Kind::Static, kDlgMacCaption, 7, 56, 119, 8},
    {-1, Kind::Static, kDlgCompanyCaption, 241, 55, 119, 8},
    {-1, Kind::Static, kDlgCompanyExample, 241, 64, 144, 8},
    {IDC_MAC_RESULT, Kind::MultiEdit, "", 7, 102, 214, 259},
    {IDC_COMPANY_RESULT, Kind::MultiEdit, "", 242, 102, 214, 247},
    {IDC_DB_VERSION, Kind::VersionEdit, "", 7, 373, 146, 12},
    {IDC_COMPANY_CONTINUE, Kind::Button, kDlgContinue, 407, 351, 50, 14},
    {IDC_PROGRESS, Kind::Progress, kDlgProgress, 7, 394, 394, 16},
    {-1, Kind::Static, kDlgMacShort, 7, 72, 193, 8},
    {IDC_COMPANY_ALL, Kind::Button, kDlgAll, 349, 352, 50, 13},
    {IDC_LIST_ALL_MACS, Kind::Button, kDlgListAll, 119, 85, 98, 13},
    {IDC_TITLE, Kind::StaticCentre, kDlgTitle, 7, 7, 450, 24},
    {IDC_SEPARATOR, Kind::Rule, kDlgSeparator, 7, 30, 450, 10},
};
constexpr int kTemplateWidth = 464;
constexpr int kTemplateHeight = 448;

// Cell height of the title font at 96 DPI (a positive font height: the
// character cell, not the em).
constexpr double kTitleCell96 = 20.0;

// Text colours of the colour request, by control id.
QColor ControlTextColour(int id) {
  switch (id) {
    case IDC_TITLE: return QColor(255, 0, 0);
    case IDC_CONTACT:
    case IDC_BUILD: return QColor(0, 0, 255);
    case IDC_SEPARATOR: return QColor(255, 255, 0);
    default: return QColor();
  }
}

// SimSun where the machine has it, else an installed CJK face; its size is
// set from the dialog units.
QFont DialogFace() {
  const QStringList families = QFontDatabase::families();
  QString face;
  for (const QString& candidate :
       {QStringLiteral("SimSun"), GbkToQString(kDlgFontFace), QStringLiteral("WenQuanYi Zen Hei"),
        QStringLiteral("Noto Sans CJK SC")}) {
    if (families.contains(candidate)) {
      face = candidate;
      break;
    }
  }
  return face.isEmpty() ? QApplication::font() : QFont(face);
}

// Fonts are sized in pixels of the dialog's units, which may be fractional
// once the window has been shrunk to fit; point sizes carry fractions.
void SetPixelSize(QFont& font, double px, double logicalDpi) {
  font.setPointSizeF(px * 72.0 / logicalDpi);
}

// The application's style with scroll bars scaled by the window's fit.
class CScaledChromeStyle : public QProxyStyle {
 public:
  explicit CScaledChromeStyle(double fit) : m_fit(fit) {}
  int pixelMetric(PixelMetric metric, const QStyleOption* option,
                  const QWidget* widget) const override {
    const int base = QProxyStyle::pixelMetric(metric, option, widget);
    if (metric == PM_ScrollBarExtent || metric == PM_ScrollBarSliderMin) {
      return std::max(1, static_cast<int>(std::lround(base * m_fit)));
    }
    return base;
  }

 private:
  double m_fit;
};

// Read-only boxes take the dialog's face colour as the classic edit does.
void UseFaceBackground(QWidget* box) {
  QPalette pal = box->palette();
  pal.setColor(QPalette::Base, pal.color(QPalette::Window));
  box->setPalette(pal);
}

}  // namespace

// ---------------------------------------------------------------------------
// Update requests carried out on the user-interface thread.

CQtUpdateUi::CQtUpdateUi(CVessarineDlg* dlg) : m_dlg(dlg) {}

template <class F>
void CQtUpdateUi::Run(F&& work) {
  if (m_closing.load()) return;
  if (QThread::currentThread() == thread()) {
    work();
    return;
  }
  QMetaObject::invokeMethod(
      this, [this, &work] {
        if (!m_closing.load()) work();
      },
      Qt::BlockingQueuedConnection);
}

void CQtUpdateUi::StepProgress() {
  Run([] { g_progress.StepIt(); });
}

void CQtUpdateUi::SetProgressPos(int pos) {
  Run([pos] { g_progress.SetPos(pos); });
}

void CQtUpdateUi::ShowMessage(const char* caption, const char* text) {
  Run([this, caption, text] { m_dlg->ShowUpdateMessage(caption, text); });
}

void CQtUpdateUi::SetVersionText(const std::string& text) {
  Run([&text] { g_strDbVersion = text; });
}

// ---------------------------------------------------------------------------
// Construction and initialisation.

CVessarineDlg::CVessarineDlg(UpdateSource updateSource, QWidget* parent)
    : QDialog(parent),
      m_updateSource(std::move(updateSource)),
      m_bindings{{{IDC_MAC_INPUT, &g_strMacInput},
                  {IDC_COMPANY_INPUT, &g_strCompanyInput},
                  {IDC_MAC_RESULT, &g_strMacResult},
                  {IDC_COMPANY_RESULT, &g_strCompanyResult},
                  {IDC_DB_VERSION, &g_strDbVersion}}},
      m_updateUi(new CQtUpdateUi(this)) {
  g_strMacInput = "00:00:00:00:00:00";
  g_strCompanyInput = "VELMORA TECHWORKS";
  StartUpDatabase();
  m_hIcon = ProgramIcon();

  CreateControls();
  WireMessageMap();
  OnInitDialog();
}

CVessarineDlg::~CVessarineDlg() {
  m_updateUi->SetClosing();
  g_progress.Detach();
  // A running update may still call its user-interface object; it stays
  // alive (and inert) for the rest of the process.
  if (!g_bUpdateRunning.load()) delete m_updateUi;
}

void CVessarineDlg::CreateControls() {
  // Caption and close box only; fixed size; a window of its own on the taskbar.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setWindowTitle(GbkToQString(kDlgCaption));

  // The units are the template font's (6 x 12 px at 96 DPI) whatever face
  // stands in for it, so the window has the template's size; on a screen
  // too small for that, all of it shrinks alike.
  QScreen* where = screen();
  const QRect available = where->availableGeometry();
  const double dpi = where->logicalDotsPerInchY();
  m_units =
      FitDialogUnits(QSize(kTemplateWidth, kTemplateHeight), available, where->geometry(), dpi);
  QFont font = DialogFace();
  SetPixelSize(font, m_units.BaseUnitY(), dpi);  // 9 pt: the cell is one base unit high
  setFont(font);
  setFixedSize(m_units.Map(QSize(kTemplateWidth, kTemplateHeight)));
  // Where the template puts the window: the top left of the free area.
  move(available.topLeft());

  // Scroll bars shrink with a window that was shrunk to fit.
  const double fit = m_units.Scale() * 96.0 / dpi;
  QStyle* chrome = nullptr;
  if (fit < 1.0) {
    chrome = new CScaledChromeStyle(fit);
    chrome->setParent(this);
  }

  QWidget* previousTabStop = nullptr;
  for (const ControlDef& def : kTemplate102) {
    QWidget* control = nullptr;
    switch (def.kind) {
      case Kind::Button: {
        auto* button = new QPushButton(GbkToQString(def.text), this);
        button->setAutoDefault(false);
        button->setDefault(false);
        control = button;
        break;
      }
      case Kind::Edit: {
        auto* edit = new QLineEdit(this);
        edit->setFrame(true);
        // The box is one cell and a thin border high, as the classic edit
        // is; a line of a fallback face is taller than its ink, so the line
        // may reach into the frame's padding (it is centred, and its ink
        // stays clear of the frame itself).
        const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
        edit->setTextMargins(0, -frame, 0, -frame);
        control = edit;
        break;
      }
      case Kind::VersionEdit: {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setFrame(false);
        edit->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
        UseFaceBackground(edit);
        control = edit;
        break;
      }
      case Kind::MultiEdit: {
        auto* edit = new QPlainTextEdit(this);
        edit->setReadOnly(true);
        edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        edit->setLineWrapMode(QPlainTextEdit::NoWrap);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setTabChangesFocus(true);
        edit->setUndoRedoEnabled(false);
        UseFaceBackground(edit);
        edit->viewport()->installEventFilter(this);
        if (chrome) {
          edit->setStyle(chrome);
          edit->verticalScrollBar()->setStyle(chrome);
          edit->horizontalScrollBar()->setStyle(chrome);
        }
        control = edit;
        break;
      }
      case Kind::Static:
      case Kind::StaticCentre:
      case Kind::Rule: {
        const auto align = def.kind == Kind::Static         ? CStaticText::Align::Left
                           : def.kind == Kind::StaticCentre ? CStaticText::Align::Centre
                                                            : CStaticText::Align::Spread;
        auto* label = new CStaticText(GbkToMultilineDisplay(def.text), align, this);
        label->SetLineCell(m_units.BaseUnitY());
        control = label;
        break;
      }
      case Kind::Progress: {
        auto* bar = new CProgressBarWidget(this);
        bar->setAccessibleName(GbkToQString(def.text));  // window text, not shown
        control = bar;
        break;
      }
    }
    control->setObjectName(QString::number(def.id));
    control->setGeometry(m_units.Map(QRect(def.x, def.y, def.w, def.h)));
    control->installEventFilter(this);
    if (def.kind != Kind::Static && def.kind != Kind::StaticCentre && def.kind != Kind::Rule &&
        def.kind != Kind::Progress) {
      control->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop) setTabOrder(previousTabStop, control);
      previousTabStop = control;
    } else if (def.kind == Kind::Progress) {
      control->setFocusPolicy(Qt::NoFocus);
    }
    m_controls.push_back(control);
  }

  QList<CStaticText*> texts;
  for (QWidget* control : m_controls) {
    auto* text = qobject_cast<CStaticText*>(control);
    if (text && control->objectName().toInt() != IDC_TITLE) texts << text;
  }
  CStaticText::FitTogether(texts);

  for (Binding& binding : m_bindings) {
    QWidget* box = GetDlgItem(binding.id);
    binding.line = qobject_cast<QLineEdit*>(box);
    binding.multi = qobject_cast<QPlainTextEdit*>(box);
  }
}

void CVessarineDlg::WireMessageMap() {
  // The message map: button clicks and input-box changes to handlers.
  struct MapEntry {
    int id;
    void (CVessarineDlg::*handler)();
  };
  static const MapEntry kClickMap[] = {
      {IDC_UPDATE_DB, &CVessarineDlg::OnUpdateDb},
      {IDC_MAC_MATCH, &CVessarineDlg::OnMacMatch},
      {IDC_LIST_ALL_MACS, &CVessarineDlg::OnListAllMacs},
      {IDC_COMPANY_MATCH, &CVessarineDlg::OnCompanyMatch},
      {IDC_COMPANY_CONTINUE, &CVessarineDlg::OnCompanyContinue},
      {IDC_COMPANY_ALL, &CVessarineDlg::OnCompanyAll},
      {IDC_EXIT, &CVessarineDlg::OnExit},
  };
  static const MapEntry kChangeMap[] = {
      {IDC_MAC_INPUT, &CVessarineDlg::OnChangeMacInput},
      {IDC_COMPANY_INPUT, &CVessarineDlg::OnChangeCompanyInput},
  };
  for (const MapEntry& entry : kClickMap) {
    auto* button = qobject_cast<QPushButton*>(GetDlgItem(entry.id));
    connect(button, &QPushButton::clicked, this, entry.handler);
  }
  for (const MapEntry& entry : kChangeMap) {
    auto* edit = qobject_cast<QLineEdit*>(GetDlgItem(entry.id));
    auto handler = entry.handler;
    int id = entry.id;
    connect(edit, &QLineEdit::textChanged, this, [this, handler, id] {
      // A push writing the box is no change notification.
      if (m_exchanging) return;
      for (Binding& binding : m_bindings) {
        if (binding.id == id) binding.edited = true;
      }
      (this->*handler)();
    });
  }
  // The result boxes are read-only; should their text change otherwise than
  // by a push, a pull reads what they show.
  for (Binding& binding : m_bindings) {
    if (!binding.multi) continue;
    Binding* bound = &binding;
    connect(binding.multi, &QPlainTextEdit::textChanged, this, [this, bound] {
      if (!m_exchanging) bound->edited = true;
    });
  }
}

void CVessarineDlg::OnInitDialog() {
  // The first push shows the initial texts and attaches g_progress.
  Push();
  setWindowIcon(m_hIcon);
  g_progress.SetRange(1, 1000);
  g_progress.SetPos(0);
  g_progress.SetStep(1);
  EnableControl(IDC_COMPANY_CONTINUE, false);
  EnableControl(IDC_COMPANY_ALL, false);
  // Focus on the first tab stop in template order: 退出.
  for (QWidget* control : m_controls) {
    if (control->focusPolicy() & Qt::TabFocus) {
      control->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

// ---------------------------------------------------------------------------
// Data exchange.

QWidget* CVessarineDlg::GetDlgItem(int id) const {
  QString name = QString::number(id);
  for (QWidget* control : m_controls) {
    if (control->objectName() == name) return control;
  }
  return nullptr;
}

std::string CVessarineDlg::ShownText(const Binding& binding) const {
  // Until the user changes a box, it shows exactly the bytes last written.
  if (!binding.edited) return binding.shown;
  if (binding.multi) return MultilineDisplayToGbk(binding.multi->toPlainText());
  return QStringToGbk(binding.line->text());
}

void CVessarineDlg::WriteBox(Binding& binding, const std::string& text) {
  if (binding.multi) {
    binding.multi->setPlainText(GbkToMultilineDisplay(text));
  } else {
    binding.line->setText(GbkToQString(text));
    binding.line->setCursorPosition(0);
  }
  binding.shown = text;
  binding.edited = false;
}

void CVessarineDlg::UpdateData(bool saveAndValidate) {
  m_exchanging = true;
  if (saveAndValidate) {
    for (Binding& binding : m_bindings) *binding.variable = ShownText(binding);
  } else {
    for (Binding& binding : m_bindings) {
      const std::string& text = *binding.variable;
      if (text.size() <= kPushCompareLimit && text == ShownText(binding)) continue;
      WriteBox(binding, text);
    }
    if (!g_progress.IsAttached()) {
      g_progress.Attach(qobject_cast<CProgressBarWidget*>(GetDlgItem(IDC_PROGRESS)));
    }
  }
  m_exchanging = false;
}

void CVessarineDlg::EnableControl(int id, bool enable) {
  if (QWidget* control = GetDlgItem(id)) control->setEnabled(enable);
}

// ---------------------------------------------------------------------------
// Queries.

void CVessarineDlg::MacLookup(int mode) {
  // Any MAC query ends a paged company search.
  EnableControl(IDC_COMPANY_CONTINUE, false);
  EnableControl(IDC_COMPANY_ALL, false);
  g_strMacResult = mode == 1 ? engine::ListMacs().text : engine::LookupMac(g_strMacInput).text;
  Push();
}

void CVessarineDlg::CompanySearch(int mode) {
  // Only a continuation resumes; a new search and 全部 start over.
  const engine::SearchCursor from = mode == 1 ? engine::SearchCursor{g_nSearchPos, g_nMatchCount} : engine::SearchCursor{};
  engine::CompanyPage page = engine::SearchCompanies(g_strCompanyInput, from, mode == 2);
  g_nSearchPos = page.next.position;
  g_nMatchCount = page.next.matches;
  g_strCompanyResult = std::move(page.answer.text);
  Push();
  if (page.more) {
    EnableControl(IDC_COMPANY_CONTINUE, true);
    EnableControl(IDC_COMPANY_ALL, true);
  }
}

void CVessarineDlg::OnMacMatch() { MacLookup(0); }
void CVessarineDlg::OnListAllMacs() { MacLookup(1); }

void CVessarineDlg::OnCompanyMatch() {
  if (g_strMacResult.size() > kMacResultLimit) g_strMacResult = FormatMessage(kMsgMacCacheTooLarge);
  EnableControl(IDC_COMPANY_CONTINUE, false);
  EnableControl(IDC_COMPANY_ALL, false);
  CompanySearch(0);
}

void CVessarineDlg::OnCompanyContinue() {
  EnableControl(IDC_COMPANY_CONTINUE, false);
  CompanySearch(1);
}

void CVessarineDlg::OnCompanyAll() {
  EnableControl(IDC_COMPANY_CONTINUE, false);
  EnableControl(IDC_COMPANY_ALL, false);
  CompanySearch(2);
}

void CVessarineDlg::OnChangeMacInput() { Pull(); }
void CVessarineDlg::OnChangeCompanyInput() { Pull(); }

// ---------------------------------------------------------------------------
// Painting and colours.

void CVessarineDlg::paintEvent(QPaintEvent* event) { OnPaint(event); }

void CVessarineDlg::OnPaint(QPaintEvent* event) {
  // An update thread asked for a refresh; it never pushes itself.
  if (g_bRefreshPending.exchange(0) != 0) Push();
  if (isMinimized()) {
    QPainter painter(this);
    const int iconSize = 32;
    int x = (width() - iconSize + 1) / 2;
    int y = (height() - iconSize + 1) / 2;
    painter.drawPixmap(x, y, m_hIcon.pixmap(iconSize, iconSize));
    return;
  }
  QDialog::paintEvent(event);
}

void CVessarineDlg::OnCtlColor(QWidget* control) {
  if (!g_bTitleFontCreated) {
    // A positive height is the character cell; Qt sizes the em, so the em is
    // the cell scaled by the face's em over its ascent plus descent.
    auto* font = new QFont(QStringLiteral("Arial"));
    font->setWeight(QFont::DemiBold);
    font->setPixelSize(100);
    const QFontMetricsF reference(*font);
    SetPixelSize(*font, kTitleCell96 * 100.0 / (reference.ascent() + reference.descent()), 96.0);
    g_pTitleFont = font;
    g_bTitleFontCreated = 1;
  }
  if (!m_titleFontSet) {
    // Every dialog shows its title in the one font, at its own units.
    m_titleFontSet = true;
    if (auto* title = qobject_cast<CStaticText*>(GetDlgItem(IDC_TITLE))) {
      QFont font = *g_pTitleFont;
      const double dpi = screen()->logicalDotsPerInchY();
      SetPixelSize(font, m_units.Px(g_pTitleFont->pointSizeF() * 96.0 / 72.0), dpi);
      title->setFont(font);
      title->SetLineCell(m_units.Px(kTitleCell96));
    }
  }
  QColor colour = ControlTextColour(control->objectName().toInt());
  if (colour.isValid() && control->palette().color(QPalette::WindowText) != colour) {
    QPalette pal = control->palette();
    pal.setColor(QPalette::WindowText, colour);
    control->setPalette(pal);
  }
}

bool CVessarineDlg::eventFilter(QObject* watched, QEvent* event) {
  // Every paint of a control is its colour request.
  if (event->type() == QEvent::Paint) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->parentWidget() != this) widget = widget->parentWidget();
    if (widget && widget->parentWidget() == this) OnCtlColor(widget);
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Keys and ending the dialog.

void CVessarineDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // Enter presses the focused push button, otherwise it is IDOK.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
        button->click();
      } else {
        OnOK();
      }
      event->accept();
      return;
    case Qt::Key_Escape:
      OnCancel();
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CVessarineDlg::accept() { OnOK(); }
void CVessarineDlg::reject() { OnCancel(); }

void CVessarineDlg::done(int result) {
  m_updateUi->SetClosing();
  QDialog::done(result);
}

void CVessarineDlg::OnOK() {}

void CVessarineDlg::OnCancel() { done(kIdCancel); }

void CVessarineDlg::OnExit() {
  ReleaseStore();
  OnCancel();
}

// ---------------------------------------------------------------------------
// Database update.

bool CVessarineDlg::AskUpdate() {
  QMessageBox box(QMessageBox::NoIcon, GbkToQString(kCaptionUpdate),
                  GbkToMultilineDisplay(kMsgConfirmUpdate), QMessageBox::Ok | QMessageBox::Cancel,
                  this);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setText(GbkToQString(kDlgButtonOk));
  box.button(QMessageBox::Cancel)->setText(GbkToQString(kDlgButtonCancel));
  box.setDefaultButton(QMessageBox::Ok);
  return box.exec() == QMessageBox::Ok;
}

void CVessarineDlg::OnUpdateDb() {
  // One update at a time: while one runs the version box says so, and the
  // button starts nothing.
  if (g_bUpdateRunning.load()) return;
  if (!AskUpdate()) return;
  if (!StartUpdateThreads(*m_updateUi, m_updateSource)) {
    return;
  }
  g_strDbVersion = kVersionRunning;
  Push();
}

void CVessarineDlg::ShowUpdateMessage(const char* caption, const char* text) {
  // A completed update has set the refresh request: paint now, so the version
  // box shows the new text together with the message.
  if (g_bRefreshPending.load() != 0) repaint();
  QMessageBox box(QMessageBox::NoIcon, GbkToQString(caption), GbkToMultilineDisplay(text),
                  QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.button(QMessageBox::Ok)->setText(GbkToQString(kDlgButtonOk));
  box.exec();
}
