#include "app/vessarine_dlg.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <ctime>
#include <utility>

#include "app/box_text.h"
#include "app/dialog_texts.h"
#include "app/program_icon.h"
#include "app/progress_ctrl.h"
#include "db/loader.h"
#include "db/store.h"
#include "db/texts.h"
#include "query/controls.h"
#include "update/update_texts.h"

uint8_t g_bTitleFontCreated = 0;
QFont* g_pTitleFont = nullptr;

namespace {

int s_titleFontCreations = 0;
std::string& ListingUrlOverride() {
  static std::string url;
  return url;
}

// Pushes compare a box with its variable only up to this length.
constexpr size_t kPushCompareLimit = 255;

enum class Kind { Button, Edit, MultiEdit, VersionEdit, Static, StaticCentre, Progress };

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
    {IDC_SEPARATOR, Kind::StaticCentre, kDlgSeparator, 7, 30, 450, 10},
};
constexpr int kTemplateWidth = 464;
constexpr int kTemplateHeight = 448;

// The message map: button clicks and input-box changes to handlers.
struct MapEntry {
  int id;
  void (CVessarineDlg::*handler)();
};
const MapEntry kClickMap[] = {
    {IDC_UPDATE_DB, &CVessarineDlg::OnUpdateDb},
    {IDC_MAC_MATCH, &CVessarineDlg::OnMacMatch},
    {IDC_LIST_ALL_MACS, &CVessarineDlg::OnListAllMacs},
    {IDC_COMPANY_MATCH, &CVessarineDlg::OnCompanyMatch},
    {IDC_COMPANY_CONTINUE, &CVessarineDlg::OnCompanyContinue},
    {IDC_COMPANY_ALL, &CVessarineDlg::OnCompanyAll},
    {IDC_EXIT, &CVessarineDlg::OnExit},
};
const MapEntry kChangeMap[] = {
    {IDC_MAC_INPUT, &CVessarineDlg::OnChangeMacInput},
    {IDC_COMPANY_INPUT, &CVessarineDlg::OnChangeCompanyInput},
};

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

// SimSun 9 pt where the machine has it, else an installed CJK face.
QFont DialogFont() {
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
  QFont font = face.isEmpty() ? QApplication::font() : QFont(face);
  font.setPointSize(9);
  return font;
}

int MulDiv(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

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

CVessarineDlg::CVessarineDlg(QWidget* parent)
    : QDialog(parent),
      m_bindings{{{IDC_MAC_INPUT, &g_strMacInput},
                  {IDC_COMPANY_INPUT, &g_strCompanyInput},
                  {IDC_MAC_RESULT, &g_strMacResult},
                  {IDC_COMPANY_RESULT, &g_strCompanyResult},
                  {IDC_DB_VERSION, &g_strDbVersion}}},
      m_updateUi(new CQtUpdateUi(this)) {
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

  QFont font = DialogFont();
  setFont(font);
  QFontMetrics metrics(font);
  int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = (alphabet / 26 + 1) / 2;
  m_baseY = metrics.height();
  auto toRect = [this](const ControlDef& def) {
    return QRect(MulDiv(def.x, m_baseX, 4), MulDiv(def.y, m_baseY, 8), MulDiv(def.w, m_baseX, 4),
                 MulDiv(def.h, m_baseY, 8));
  };
  setFixedSize(MulDiv(kTemplateWidth, m_baseX, 4), MulDiv(kTemplateHeight, m_baseY, 8));

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
        control = edit;
        break;
      }
      case Kind::Static:
      case Kind::StaticCentre: {
        QString text = GbkToMultilineDisplay(def.text);
        auto* label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignTop |
                            (def.kind == Kind::Static ? Qt::AlignLeft : Qt::AlignHCenter));
        label->setFocusPolicy(Qt::NoFocus);
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
    control->setGeometry(toRect(def));
    control->installEventFilter(this);
    if (def.kind != Kind::Static && def.kind != Kind::StaticCentre &&
        def.kind != Kind::Progress) {
      control->setFocusPolicy(Qt::StrongFocus);
      if (previousTabStop) setTabOrder(previousTabStop, control);
      previousTabStop = control;
    } else if (def.kind == Kind::Progress) {
      control->setFocusPolicy(Qt::NoFocus);
    }
    m_controls.push_back(control);
  }

  for (Binding& binding : m_bindings) {
    QWidget* box = GetDlgItem(binding.id);
    binding.line = qobject_cast<QLineEdit*>(box);
    binding.multi = qobject_cast<QPlainTextEdit*>(box);
  }
}

void CVessarineDlg::WireMessageMap() {
  for (const MapEntry& entry : kClickMap) {
    auto* button = qobject_cast<QPushButton*>(GetDlgItem(entry.id));
    auto handler = entry.handler;
    connect(button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });
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

const CVessarineDlg::Binding* CVessarineDlg::FindBinding(int id) const {
  for (const Binding& binding : m_bindings) {
    if (binding.id == id) return &binding;
  }
  return nullptr;
}

std::string CVessarineDlg::ShownText(const Binding& binding) const {
  // Until the user changes a box, it shows exactly the bytes last written.
  if (!binding.edited) return binding.shown;
  if (binding.multi) return MultilineDisplayToGbk(binding.multi->toPlainText());
  return QStringToGbk(binding.line->text());
}

std::string CVessarineDlg::BoxText(int id) const {
  const Binding* binding = FindBinding(id);
  return binding ? ShownText(*binding) : std::string();
}

int CVessarineDlg::BoxWriteCount(int id) const {
  const Binding* binding = FindBinding(id);
  return binding ? binding->writes : 0;
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
  ++binding.writes;
}

void CVessarineDlg::UpdateData(bool saveAndValidate) {
  m_exchanging = true;
  if (saveAndValidate) {
    ++m_pullCount;
    for (Binding& binding : m_bindings) *binding.variable = ShownText(binding);
  } else {
    ++m_pushCount;
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

void CVessarineDlg::MacLookup(int mode) { ::MacLookup(*this, mode); }
void CVessarineDlg::CompanySearch(int mode) { ::CompanySearch(*this, mode); }

void CVessarineDlg::OnMacMatch() { MacLookup(0); }
void CVessarineDlg::OnListAllMacs() { MacLookup(1); }
void CVessarineDlg::OnCompanyMatch() { ::CompanyMatch(*this); }
void CVessarineDlg::OnCompanyContinue() { ::CompanyContinue(*this); }
void CVessarineDlg::OnCompanyAll() { ::CompanyAll(*this); }
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

QColor CVessarineDlg::OnCtlColor(QWidget* control) {
  if (!g_bTitleFontCreated) {
    g_pTitleFont = new QFont(QStringLiteral("Arial"));
    g_pTitleFont->setPixelSize(20);
    g_pTitleFont->setWeight(QFont::DemiBold);
    if (QWidget* title = GetDlgItem(IDC_TITLE)) title->setFont(*g_pTitleFont);
    g_bTitleFontCreated = 1;
    ++s_titleFontCreations;
  }
  QColor colour = ControlTextColour(control->objectName().toInt());
  if (colour.isValid() && control->palette().color(QPalette::WindowText) != colour) {
    QPalette pal = control->palette();
    pal.setColor(QPalette::WindowText, colour);
    control->setPalette(pal);
  }
  return colour;
}

int CVessarineDlg::TitleFontCreations() { return s_titleFontCreations; }

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

void CVessarineDlg::SetListingUrl(std::string url) { ListingUrlOverride() = std::move(url); }

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
  const std::string& url = ListingUrlOverride();
  if (!StartUpdateThreads(*m_updateUi, url.empty() ? ListingUrl(std::time(nullptr)) : url)) {
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
