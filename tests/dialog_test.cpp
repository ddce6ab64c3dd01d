// The main dialog driven as a user drives it, offscreen: start-up state,
// size and layout, typing, both queries by clicks and keys, paging, the
// MAC-result guard, ending, colours and title font, data exchange and the
// update. Every case opens its own dialog with its own cache folder, so the
// cases run alone or in any order.
// Literals here are UTF-8; G() gives the GBK bytes the program holds.
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>

#include "vessarine/app/box_text.h"
#include "vessarine/app/controls.h"
#include "vessarine/app/dialog_units.h"
#include "vessarine/app/progress_ctrl.h"
#include "vessarine/app/static_text.h"
#include "vessarine/app/vessarine_dlg.h"
#include "vessarine/store/gbk.h"
#include "vessarine/db/loader.h"
#include "vessarine/store/store.h"
#include "vessarine/store/texts.h"
#include "tests/loopback_http.h"
#include "tests/test_support.h"
#include "vessarine/update/update.h"
#include "vessarine/update/update_texts.h"

namespace {

const char kXeroxFirst[] =
    "\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\n"
    "UNITED STATES\n";

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }
QString U(const char* utf8) { return QString::fromUtf8(utf8); }

bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 &&
         std::abs(a.blue() - b.blue()) < 40;
}

// Bounding box of the pixels of `image` near `colour`; with an invalid
// colour, of every pixel that is not white.
QRect InkBox(const QImage& image, QColor colour = QColor()) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  QRect box;
  for (int y = 0; y < rgb.height(); ++y) {
    for (int x = 0; x < rgb.width(); ++x) {
      QColor c = rgb.pixelColor(x, y);
      if (colour.isValid() ? Near(c, colour) : c != QColor(Qt::white)) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

// What a control draws, on white, without its parent's background.
QImage Drawn(QWidget* control) {
  QImage image(control->size(), QImage::Format_RGB32);
  image.fill(Qt::white);
  control->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
  return image;
}

// The ink of `line` in `font` with room all round: nothing of it cut off.
QRect UncutInk(const QString& line, const QFont& font) {
  QImage image(QFontMetrics(font).horizontalAdvance(line) + 80, 200, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  painter.drawText(QPointF(40, 100), line);
  painter.end();
  return InkBox(image);
}

// Answers every message box the moment it shows, from a queue (OK when it
// is empty), and records what was shown and what the version box said then.
class BoxCloser : public QObject {
 public:
  struct Seen {
    QString caption;
    QString text;
    QString versionBox;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon;
    QWidget* parent;
  };

  explicit BoxCloser(CVessarineDlg* dlg) : m_dlg(dlg) { qApp->installEventFilter(this); }
  ~BoxCloser() override { qApp->removeEventFilter(this); }
  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Seen> seen;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* box = qobject_cast<QMessageBox*>(watched);
    if (!box || event->type() != QEvent::Show || !m_dlg) return false;
    auto* version = m_dlg->findChild<QLineEdit*>(QString::number(IDC_DB_VERSION));
    seen.push_back({box->windowTitle(), box->text(), version->text(), box->standardButtons(),
                    box->icon(), box->parentWidget()});
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    QAbstractButton* button = box->button(answer);
    QTimer::singleShot(0, button, [button] { button->click(); });
    return false;
  }

 private:
  QPointer<CVessarineDlg> m_dlg;
};

}  // namespace

class DialogTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> m_cache;
  std::unique_ptr<CVessarineDlg> m_dlg;
  int m_builtinCount = 0;  // records of the built-in copy

  template <class T = QWidget>
  T* Item(int id) {
    T* item = m_dlg->findChild<T*>(QString::number(id));
    if (!item) qFatal("control %d missing", id);
    return item;
  }
  QPushButton* Button(int id) { return Item<QPushButton>(id); }
  QLineEdit* Line(int id) { return Item<QLineEdit>(id); }
  QPlainTextEdit* Multi(int id) { return Item<QPlainTextEdit>(id); }
  void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
  // What box `id` shows, as the GBK bytes a pull would read from it.
  std::string Shown(int id) {
    if (auto* multi = m_dlg->findChild<QPlainTextEdit*>(QString::number(id)))
      return MultilineDisplayToGbk(multi->toPlainText());
    return QStringToGbk(Line(id)->text());
  }
  // Where the progress bar is drawn filled.
  QRect BarInk() {
    auto* bar = Item<CProgressBarWidget>(IDC_PROGRESS);
    return InkBox(Drawn(bar), bar->palette().color(QPalette::Highlight));
  }
  // The unnamed static texts, in template order.
  QList<CStaticText*> Unnamed() { return m_dlg->findChildren<CStaticText*>(QStringLiteral("-1")); }

  // Replaces the text of an input box keystroke by keystroke.
  void Type(int id, const char* text) {
    QLineEdit* edit = Line(id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }

  void Open(UpdateSource source = {}) {
    m_dlg = std::make_unique<CVessarineDlg>(std::move(source));
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
  }

  void UseFreshCache() {
    m_cache = std::make_unique<QTemporaryDir>();
    QVERIFY(m_cache->isValid());
    qputenv("XDG_CACHE_HOME", m_cache->path().toLocal8Bit());
  }

 private slots:
  // Runs before any case, in every run: the title font is made at the first
  // colour request of the process, not when the window is built.
  void initTestCase() {
    UseFreshCache();
    LoadBuiltinDatabase();
    m_builtinCount = companyCount;
    QVERIFY(m_builtinCount > 15000);

    QCOMPARE(g_bTitleFontCreated, uint8_t{0});
    m_dlg = std::make_unique<CVessarineDlg>();
    QCOMPARE(g_bTitleFontCreated, uint8_t{0});
    QVERIFY(g_pTitleFont == nullptr);
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QTRY_COMPARE(g_bTitleFontCreated, uint8_t{1});
    m_dlg.reset();
  }

  void init() {
    UseFreshCache();
    g_bRefreshPending.store(0);
    // The result variables outlive a dialog, as process-wide variables do.
    g_strMacResult.clear();
    g_strCompanyResult.clear();
  }
  void cleanup() {
    m_dlg.reset();
    m_cache.reset();
  }

  void titleFontAndColours() {
    Open();
    QVERIFY(g_pTitleFont != nullptr);
    const QFont* made = g_pTitleFont;
    QFont title = Item(IDC_TITLE)->font();
    QCOMPARE(title.family(), QStringLiteral("Arial"));
    QCOMPARE(title.weight(), QFont::DemiBold);

    // Later colour requests, and a second dialog, make no font.
    for (int i = 0; i < 3; ++i) m_dlg->repaint();
    Open();
    QCOMPARE(g_pTitleFont, made);
    QCOMPARE(Item(IDC_TITLE)->font().family(), QStringLiteral("Arial"));

    auto text = [&](int id) { return Item(id)->palette().color(QPalette::WindowText); };
    QCOMPARE(text(IDC_TITLE), QColor(255, 0, 0));
    QCOMPARE(text(IDC_CONTACT), QColor(0, 0, 255));
    QCOMPARE(text(IDC_BUILD), QColor(0, 0, 255));
    QCOMPARE(text(IDC_SEPARATOR), QColor(255, 255, 0));
    QColor plain = m_dlg->palette().color(QPalette::WindowText);
    for (CStaticText* label : Unnamed())
      QCOMPARE(label->palette().color(QPalette::WindowText), plain);
    // And the pixels say so.
    QVERIFY(!InkBox(Drawn(Item(IDC_TITLE)), QColor(255, 0, 0)).isEmpty());
    QVERIFY(!InkBox(Drawn(Item(IDC_CONTACT)), QColor(0, 0, 255)).isEmpty());
    QVERIFY(InkBox(Drawn(Unnamed().front()), QColor(255, 0, 0)).isEmpty());
  }

  void startUpState() {
    Open();
    QCOMPARE(Shown(IDC_MAC_INPUT), std::string("00:00:00:00:00:00"));
    QCOMPARE(Shown(IDC_COMPANY_INPUT), std::string("VELMORA TECHWORKS"));
    QCOMPARE(Shown(IDC_DB_VERSION), G("当前数据库版本为2011-7-1"));
    QVERIFY(Multi(IDC_MAC_RESULT)->toPlainText().isEmpty());
    QVERIFY(Multi(IDC_COMPANY_RESULT)->toPlainText().isEmpty());
    QCOMPARE(companyCount, m_builtinCount);

    // Static texts and button captions, byte for byte.
    QCOMPARE(Button(IDC_EXIT)->text(), U("退出"));
    QCOMPARE(Button(IDC_UPDATE_DB)->text(), U("数据库升级"));
    QCOMPARE(Button(IDC_MAC_MATCH)->text(), U("匹配"));
    QCOMPARE(Button(IDC_COMPANY_MATCH)->text(), U("匹配"));
    QCOMPARE(Button(IDC_COMPANY_CONTINUE)->text(), U("继续"));
    QCOMPARE(Button(IDC_COMPANY_ALL)->text(), U("全部"));
    QCOMPARE(Button(IDC_LIST_ALL_MACS)->text(), U("穷举所有MAC匹配"));
    QCOMPARE(Item<QLabel>(IDC_TITLE)->text(),
             U("MAC地址和生产厂商/公司信息互查工具\nVessarine V1.3"));
    QCOMPARE(Item<QLabel>(IDC_SEPARATOR)->text(), QString(113, QLatin1Char('-')));
    QCOMPARE(Item<QLabel>(IDC_BUILD)->text(), U("Build版本 5"));
    QString contact = Item<QLabel>(IDC_CONTACT)->text();
    QVERIFY(contact.startsWith(U("在使用过程中发现问题可提交至")));
    QVERIFY(contact.endsWith(U("以获取更新")));
    QStringList unnamed;
    for (CStaticText* label : Unnamed()) unnamed << label->text();
    QCOMPARE(unnamed, (QStringList{U("格式：xx:yy:zz:aa:bb:cc/xx-yy-zz-aa-bb-cc"),
                                   U("根据MAC地址查询公司信息"), U("根据公司英文名字查询MAC地址"),
                                   U("例子: Microsoft Corp.或者Microsoft "),
                                   U("      或前3个字节xx:yy:zz/xx-yy-zz")}));

    // Paging buttons disabled, everything else enabled.
    QVERIFY(!Button(IDC_COMPANY_CONTINUE)->isEnabled());
    QVERIFY(!Button(IDC_COMPANY_ALL)->isEnabled());
    for (int id : {IDC_EXIT, IDC_UPDATE_DB, IDC_MAC_MATCH, IDC_COMPANY_MATCH, IDC_LIST_ALL_MACS})
      QVERIFY(Button(id)->isEnabled());

    // Progress bar empty.
    QVERIFY(BarInk().isEmpty());

    // Focus on the first tab stop, and the Tab order is the template order.
    QCOMPARE(m_dlg->focusWidget(), Item(IDC_EXIT));
    QList<int> order;
    QWidget* w = Item(IDC_EXIT);
    do {
      if (w->parentWidget() == m_dlg.get() && (w->focusPolicy() & Qt::TabFocus))
        order << w->objectName().toInt();
      w = w->nextInFocusChain();
    } while (w != Item(IDC_EXIT));
    QCOMPARE(order,
             (QList<int>{1012, 1000, 1001, 1004, 1005, 1006, 1007, 1008, 1009, 1011, 1018, 1019}));

    // Window: caption, close box only, styles of the boxes.
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Vessarine"));
    Qt::WindowFlags flags = m_dlg->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(!m_dlg->windowIcon().isNull());
    QVERIFY(Multi(IDC_MAC_RESULT)->isReadOnly());
    QCOMPARE(Multi(IDC_MAC_RESULT)->lineWrapMode(), QPlainTextEdit::NoWrap);
    QCOMPARE(Multi(IDC_MAC_RESULT)->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(Line(IDC_DB_VERSION)->isReadOnly());
    QVERIFY(!Line(IDC_DB_VERSION)->hasFrame());
    QVERIFY(Line(IDC_DB_VERSION)->alignment() & Qt::AlignHCenter);
    QVERIFY(!Line(IDC_MAC_INPUT)->isReadOnly());
  }

  // On a 96-DPI screen with room for it, the window has the template's size
  // in the template font's units, whatever face stands in for that font;
  // it opens at the top left of the free area and lies wholly on it.
  void windowGeometry() {
    Open();
    QScreen* screen = m_dlg->screen();
    QCOMPARE(screen->logicalDotsPerInchY(), 96.0);
    QVERIFY(screen->availableGeometry().height() >= 672 + 36 + screen->geometry().height() / 16);
    QCOMPARE(m_dlg->size(), QSize(696, 672));
    QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
    QCOMPARE(m_dlg->frameGeometry().topLeft(), screen->availableGeometry().topLeft());
    QVERIFY(screen->availableGeometry().contains(m_dlg->frameGeometry()));

    // Every control inside the client area; none overlaps another but the
    // title and the separator, which share one dialog unit in the template.
    QList<QWidget*> controls;
    for (QWidget* child : m_dlg->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isVisible()) controls << child;
    QCOMPARE(controls.size(), 22);
    for (int i = 0; i < controls.size(); ++i) {
      QVERIFY2(m_dlg->rect().contains(controls[i]->geometry()),
               qPrintable(controls[i]->objectName()));
      for (int j = i + 1; j < controls.size(); ++j) {
        QStringList pair{controls[i]->objectName(), controls[j]->objectName()};
        pair.sort();
        if (pair == QStringList{"1020", "1025"}) continue;
        QVERIFY2(!controls[i]->geometry().intersects(controls[j]->geometry()),
                 qPrintable(pair.join(QLatin1Char(' '))));
      }
    }
    // Their ink does not meet: the title lies above the line.
    QRect title = InkBox(Drawn(Item(IDC_TITLE))).translated(Item(IDC_TITLE)->pos());
    QRect line = InkBox(Drawn(Item(IDC_SEPARATOR))).translated(Item(IDC_SEPARATOR)->pos());
    QVERIFY(!title.isEmpty() && !line.isEmpty());
    QVERIFY(title.bottom() < line.top());
  }

  // Each static text is drawn whole inside its control, at one readable
  // size for all but the title.
  void staticTextsFit() {
    Open();
    QList<CStaticText*> texts = m_dlg->findChildren<CStaticText*>();
    QCOMPARE(texts.size(), 9);
    const double size = Unnamed().front()->DrawnFont().pointSizeF();
    QVERIFY2(size * 96 / 72 >= 10.5, "the dialog's texts shrank to an unreadable size");
    for (CStaticText* text : texts) {
      const QString name = text->text().left(12);
      const QRect drawn = InkBox(Drawn(text));
      const QStringList lines = text->text().split(QLatin1Char('\n'));
      QVERIFY2(!drawn.isEmpty(), qPrintable(name));
      if (text->objectName() != QString::number(IDC_TITLE))
        QCOMPARE(text->DrawnFont().pointSizeF(), size);
      if (text->objectName() == QString::number(IDC_SEPARATOR)) {
        // From edge to edge, whatever the width of a hyphen in this face.
        QVERIFY2(drawn.left() <= 2 && drawn.right() >= text->width() - 3, qPrintable(name));
        continue;
      }
      int height = 0, width = 0;
      for (const QString& line : lines) {
        QRect uncut = UncutInk(line, text->DrawnFont());
        height += uncut.height();
        width = std::max(width, uncut.width());
      }
      // Centred text may start between pixels, which widens its ink by one.
      const bool centred = text->objectName() == QString::number(IDC_TITLE);
      QVERIFY2(drawn.width() == width || (centred && drawn.width() == width + 1), qPrintable(name));
      if (lines.size() == 1) {
        QVERIFY2(drawn.height() == height, qPrintable(name));
      } else {
        QVERIFY2(drawn.height() >= height, qPrintable(name));
      }
    }
  }

  // Shrinking to a small screen: the units of the whole template shrink
  // alike, never grow past the screen's DPI, and the window then fits.
  void fitDialogUnits_data() {
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<double>("dpi");
    QTest::addColumn<QSize>("expected");  // empty: smaller than at this DPI

    const QRect laptop(0, 0, 1366, 768);
    QTest::newRow("96 DPI laptop, no panel reported")
        << laptop << laptop << 96.0 << QSize(696, 672);
    QTest::newRow("96 DPI laptop, panel below")
        << laptop << QRect(0, 0, 1366, 728) << 96.0 << QSize(696, 672);
    QTest::newRow("120 DPI large screen")
        << QRect(0, 0, 2560, 1440) << QRect(0, 0, 2560, 1400) << 120.0 << QSize(870, 840);
    const QRect halved(0, 0, 683, 384);
    QTest::newRow("192 DPI laptop (scale 2)") << halved << halved << 96.0 << QSize();
    QTest::newRow("netbook") << QRect(0, 0, 1024, 600) << QRect(0, 24, 1024, 576) << 96.0
                             << QSize();
    QTest::newRow("narrow portrait")
        << QRect(0, 0, 600, 1024) << QRect(0, 0, 600, 1024) << 96.0 << QSize();
  }
  void fitDialogUnits() {
    QFETCH(QRect, screen);
    QFETCH(QRect, available);
    QFETCH(double, dpi);
    QFETCH(QSize, expected);
    const DialogUnits units = FitDialogUnits(QSize(464, 448), available, screen, dpi);
    const QSize client = units.Map(QSize(464, 448));
    if (!expected.isEmpty()) {
      QCOMPARE(client, expected);
      return;
    }
    const QSize full = DialogUnits(dpi / 96).Map(QSize(464, 448));
    QVERIFY(client.width() < full.width() && client.height() < full.height());
    const double panel = available == screen ? screen.height() / 16.0 : 0;
    QVERIFY(client.width() + 8 <= available.width() + 1);
    QVERIFY(client.height() + 36 + panel <= available.height() + 1);
    // Proportions kept: the same aspect, to a pixel.
    QVERIFY(std::abs(client.width() * 672.0 / 696.0 - client.height()) <= 1.0);
  }

  void typingPullsPushDoesNot() {
    Open();
    QLineEdit* mac = Line(IDC_MAC_INPUT);
    mac->setFocus();
    mac->selectAll();
    QTest::keyClick(mac, Qt::Key_Backspace);
    QCOMPARE(g_strMacInput, std::string());
    std::string typed;
    for (char c : std::string("00:0d:d3")) {
      g_strCompanyResult = "stale";
      QTest::keyClick(mac, c);
      typed += c;
      QCOMPARE(g_strMacInput, typed);  // pulled on every change
      QCOMPARE(g_strCompanyResult, std::string());  // and every box with it
    }

    // Chinese typed into the company box arrives as GBK.
    Line(IDC_COMPANY_INPUT)->clear();
    Line(IDC_COMPANY_INPUT)->insert(U("中文"));
    QCOMPARE(g_strCompanyInput, G("中文"));

    // A push that changes both input boxes does not pull: a pull after the
    // first box's write would take the second box's old text.
    g_strMacInput = "11:22:33";
    g_strCompanyInput = "ACME";
    m_dlg->UpdateData(false);
    QCOMPARE(mac->text(), QStringLiteral("11:22:33"));
    QCOMPARE(g_strCompanyInput, std::string("ACME"));
    QCOMPARE(Line(IDC_COMPANY_INPUT)->text(), QStringLiteral("ACME"));

    // The lookup uses the pulled text as it is, without reading the box again.
    Type(IDC_MAC_INPUT, "00:0d:d3");
    g_strMacInput.clear();
    Click(IDC_MAC_MATCH);
    QCOMPARE(g_strMacResult, G("\r\n请输入MAC地址"));
  }

  void macLookup_data() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("shown");  // what box 1007 shows, or a part of it
    QTest::newRow("whole address") << QByteArray("00:00:00:00:00:00")
                                   << QStringLiteral(
                                          "\nXEROX CORPORATION\nM/S 105-50C\n800 PHILLIPS "
                                          "ROAD\nWEBSTER NY 14580\nUNITED STATES");
    QTest::newRow("prefix with dashes")
        << QByteArray("00-00-00") << QStringLiteral("XEROX CORPORATION");
    QTest::newRow("bad separator: the format, one percent sign")
        << QByteArray("00.00.00") << QStringLiteral("%02x");
    QTest::newRow("unregistered prefix") << QByteArray("ab:cd:ef") << U("没有找到匹配");
  }
  void macLookup() {
    QFETCH(QByteArray, input);
    QFETCH(QString, shown);
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    Type(IDC_MAC_INPUT, input.constData());
    Click(IDC_MAC_MATCH);
    const QString box = Multi(IDC_MAC_RESULT)->toPlainText();
    QVERIFY2(box.contains(shown), qPrintable(box));
    QVERIFY(!box.contains(QStringLiteral("%%")));
  }

  void listAllMacs() {
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    Click(IDC_LIST_ALL_MACS);
    QVERIFY(g_strMacResult.size() > 500000);
    QVERIFY(g_strMacResult.rfind("\r\n00:00:00    XEROX CORPORATION\n\r\n00:00:01    XEROX", 0) ==
            0);
    QTextDocument* doc = Multi(IDC_MAC_RESULT)->document();
    QCOMPARE(doc->blockCount(), m_builtinCount + 1);  // a line break opens the text
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("00:00:00    XEROX CORPORATION"));
    QCOMPARE(doc->findBlockByNumber(m_builtinCount).text(),
             QStringLiteral("FC:FB:FB    Cisco Systems"));
  }

  void xeroxPaging() {
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    auto states = [&] {
      return std::make_pair(Button(IDC_COMPANY_CONTINUE)->isEnabled(),
                            Button(IDC_COMPANY_ALL)->isEnabled());
    };
    auto shown = [&] { return Shown(IDC_COMPANY_RESULT); };
    auto has = [&](const std::string& part) { return shown().find(part) != std::string::npos; };
    Type(IDC_COMPANY_INPUT, "xerox");
    Click(IDC_COMPANY_MATCH);
    QVERIFY(has(G("匹配1\r")) && has(G("匹配5\r")) && !has(G("匹配6")));
    QVERIFY(has("00:00:04:**:**:**") && has(kPageTrailer));
    QCOMPARE(states(), std::make_pair(true, true));

    // Only 匹配 replaces a long MAC result; 继续 and 全部 leave it.
    const std::string longMac(5001, 'a');
    g_strMacResult = longMac;
    Click(IDC_COMPANY_CONTINUE);
    QVERIFY(has(G("匹配6\r")) && has(G("匹配10\r")) && !has(G("匹配5\r")) && has(kPageTrailer));
    QCOMPARE(states(), std::make_pair(true, true));

    Click(IDC_COMPANY_CONTINUE);
    QVERIFY(has(G("匹配11\r")) && has(G("匹配14\r")) && has("9C:93:4E:**:**:**"));
    QVERIFY(!has(kPageTrailer));
    QCOMPARE(states(), std::make_pair(false, true));

    // A disabled button ignores clicks.
    std::string before = shown();
    Click(IDC_COMPANY_CONTINUE);
    QCOMPARE(shown(), before);

    Click(IDC_COMPANY_ALL);
    QVERIFY(has(G("匹配1\r")) && has(G("匹配14\r")) && !has(kPageTrailer));
    QCOMPARE(states(), std::make_pair(false, false));
    QCOMPARE(g_strMacResult, longMac);

    // A MAC lookup, one refused for its input, or the full listing in the
    // middle of a paged search disables both.
    struct {
      int button;
      const char* input;
    } const lookups[] = {{IDC_MAC_MATCH, "00:00:00"}, {IDC_MAC_MATCH, "00.00.00"}, {IDC_LIST_ALL_MACS, ""}};
    for (const auto& lookup : lookups) {
      Type(IDC_MAC_INPUT, lookup.input);
      Click(IDC_COMPANY_MATCH);
      QCOMPARE(states(), std::make_pair(true, true));
      Click(lookup.button);
      QCOMPARE(states(), std::make_pair(false, false));
    }

    Type(IDC_COMPANY_INPUT, "PHILLIPS");
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->toPlainText(), U("没有找到匹配"));
  }

  // 匹配 of the company search replaces a MAC result over 5000 bytes.
  void macResultGuard_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("replaced");
    QTest::newRow("5000 bytes: kept") << 5000 << false;
    QTest::newRow("5001 bytes: replaced") << 5001 << true;
    QTest::newRow("the full listing: replaced") << 0 << true;
  }
  void macResultGuard() {
    QFETCH(int, length);
    QFETCH(bool, replaced);
    Open();
    if (length > 0) {
      g_strMacResult = std::string(static_cast<size_t>(length), 'a');
      m_dlg->UpdateData(false);
    } else {
      Click(IDC_LIST_ALL_MACS);
    }
    const std::string before = g_strMacResult;
    Type(IDC_COMPANY_INPUT, "lenovo");
    Click(IDC_COMPANY_MATCH);
    const std::string expected =
        replaced ? G("\r\n缓存过大，影响其他操作性能\r\n清除缓存") : before;
    QCOMPARE(g_strMacResult, expected);
    QCOMPARE(Shown(IDC_MAC_RESULT), expected);
  }

  // Enter presses a focused push button; anywhere else it does nothing.
  void enterKey_data() {
    QTest::addColumn<int>("focus");
    QTest::addColumn<bool>("looksUp");
    QTest::newRow("MAC input") << int(IDC_MAC_INPUT) << false;
    QTest::newRow("company input") << int(IDC_COMPANY_INPUT) << false;
    QTest::newRow("MAC 匹配 button") << int(IDC_MAC_MATCH) << true;
  }
  void enterKey() {
    QFETCH(int, focus);
    QFETCH(bool, looksUp);
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    QWidget* target = Item(focus);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Return);
    QTest::keyClick(target, Qt::Key_Enter);
    QVERIFY(m_dlg->isVisible());
    QCOMPARE(g_strMacResult, looksUp ? std::string(kXeroxFirst) : std::string());
    QVERIFY(g_strCompanyResult.empty());
  }

  void cancelKeepsTheStore_data() {
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("close box") << false;
  }
  void cancelKeepsTheStore() {
    QFETCH(bool, escape);
    Open();
    if (escape) {
      QTest::keyClick(Line(IDC_MAC_INPUT), Qt::Key_Escape);
    } else {
      m_dlg->close();
    }
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), CVessarineDlg::kIdCancel);
    QVERIFY(companyMacList != nullptr);
    QCOMPARE(companyCount, m_builtinCount);
  }

  void exitReleasesThenEnds() {
    Open();
    bool releasedFirst = false;
    connect(m_dlg.get(), &QDialog::finished, this,
            [&] { releasedFirst = companyMacList == nullptr && companyAddrList == nullptr; });
    Click(IDC_EXIT);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), CVessarineDlg::kIdCancel);
    QVERIFY(releasedFirst);
  }

  // A push leaves an unchanged text of up to 255 bytes alone and writes a
  // longer one again every time.
  void pushRewritesOnlyLongTexts_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("rewrites");
    QTest::newRow("255 bytes") << 255 << 0;
    QTest::newRow("256 bytes") << 256 << 2;
  }
  void pushRewritesOnlyLongTexts() {
    QFETCH(int, length);
    QFETCH(int, rewrites);
    Open();
    g_strCompanyResult = std::string(static_cast<size_t>(length), 'x');
    m_dlg->UpdateData(false);
    int writes = 0;
    connect(Multi(IDC_COMPANY_RESULT), &QPlainTextEdit::textChanged, this, [&] { ++writes; });
    Line(IDC_MAC_INPUT)->setCursorPosition(5);  // a write would put it at 0
    m_dlg->UpdateData(false);
    m_dlg->UpdateData(false);
    QCOMPARE(writes, rewrites);
    QCOMPARE(Line(IDC_MAC_INPUT)->cursorPosition(), 5);
  }

  void rewriteShowsTheStart() {
    Open();
    g_strCompanyResult.clear();
    for (int i = 0; i < 200; ++i) g_strCompanyResult += "line\r\n";
    m_dlg->UpdateData(false);
    QScrollBar* bar = Multi(IDC_COMPANY_RESULT)->verticalScrollBar();
    bar->setValue(bar->maximum());
    QVERIFY(bar->value() > 0);
    m_dlg->UpdateData(false);
    QCOMPARE(bar->value(), 0);
  }

  void crLfDisplayAndExactRoundTrip() {
    Open();
    g_strCompanyResult = "a\r\nb\nc\rd\r\n\r\ne\n\r";
    m_dlg->UpdateData(false);
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->toPlainText(), QStringLiteral("a\nbcd\n\ne"));
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->document()->blockCount(), 4);

    // Whatever was pushed, a pull reads back byte for byte, also bytes that
    // are no GBK (an ASCII-clean conversion would lose them).
    const std::string odd = std::string("x\xff\x80y\r\r\n\n\x81", 9) + std::string(1, '\0') + "z";
    g_strMacResult = odd;
    g_strDbVersion = "\xa1\xa1 \xfe";
    g_strMacInput = "00:00:00\r\n";
    m_dlg->UpdateData(false);
    const std::string company = g_strCompanyResult, mac = g_strMacResult, version = g_strDbVersion,
                      input = g_strMacInput;
    g_strCompanyResult = g_strMacResult = g_strDbVersion = g_strMacInput = "";
    m_dlg->UpdateData(true);
    QCOMPARE(g_strCompanyResult, company);
    QCOMPARE(g_strMacResult, mac);
    QCOMPARE(g_strDbVersion, version);
    QCOMPARE(g_strMacInput, input);
  }

  void paintHonoursRefreshRequest() {
    Open();
    g_strDbVersion = G("当前数据库版本为2012-3-5");
    m_dlg->repaint();
    QCOMPARE(Line(IDC_DB_VERSION)->text(), U("当前数据库版本为2011-7-1"));  // no request, no push
    g_bRefreshPending.store(1);
    m_dlg->repaint();
    QCOMPARE(g_bRefreshPending.load(), uint8_t{0});
    QCOMPARE(Line(IDC_DB_VERSION)->text(), U("当前数据库版本为2012-3-5"));
  }

  void versionFromCache() {
    std::string dir = CacheDir();
    QVERIFY(QDir().mkpath(QString::fromStdString(dir)));
    std::string record = std::string("ABCDEF00000000") + "TEST CORP\n";
    record.resize(kRecordSize, '\0');
    std::ofstream(CachePath(kCacheMacFile), std::ios::binary) << record;
    std::ofstream(CachePath(kCacheAddrFile), std::ios::binary) << "0000LINE>";
    std::ofstream(CachePath(kCacheVersionFile), std::ios::binary) << G("当前数据库版本为2012-3-9");
    Open();
    QCOMPARE(Shown(IDC_DB_VERSION), G("当前数据库版本为2012-3-9"));
    QCOMPARE(companyCount, 1);
  }

  void progressControl() {
    CProgressBarWidget bar;
    bar.resize(400, 20);
    CProgressCtrl progress;
    progress.Attach(&bar);
    progress.SetRange(1, 1000);
    progress.SetPos(0);
    progress.SetStep(1);
    QCOMPARE(bar.FilledBlocks(), 0);
    QCOMPARE(progress.GetPos(), 1);  // clamped into the range
    QCOMPARE(progress.StepIt(), 1);
    QCOMPARE(progress.GetPos(), 2);
    progress.SetPos(500);
    QVERIFY(bar.FilledBlocks() > 0);
    QCOMPARE(progress.SetPos(1000), 500);
    int full = bar.FilledBlocks();
    QVERIFY(full > 0);
    QCOMPARE(progress.StepIt(), 1000);
    QCOMPARE(progress.GetPos(), 1);  // past the top: from the bottom again
    QCOMPARE(bar.FilledBlocks(), 0);
    progress.SetPos(5000);
    QCOMPARE(progress.GetPos(), 1000);
    QCOMPARE(bar.FilledBlocks(), full);
  }

  // The whole update through the dialog against a loopback server.
  void updateThroughTheDialog_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<QStringList>("messages");  // caption: text, in order
    QTest::addColumn<bool>("completes");

    const QString question =
        U("更新: 点击\"取消\"键退出更新\t点击\"确认\"键开始更新\n\n"
          "更新过程将在后台运行，此过程将占用较长时间，请不要在更新完毕前关闭");
    QTest::newRow("cancelled") << QStringLiteral("/oui.txt") << false << QStringList{question}
                               << false;
    QTest::newRow("completed") << QStringLiteral("/oui.txt") << true
                               << QStringList{question, U("更新: 下载完成，进行数据库更新"),
                                              U("更新: 完成更新")}
                               << true;
    QTest::newRow("download fails")
        << QStringLiteral("/missing.txt") << true
        << QStringList{question, U("更新失败: 更新MAC地址列表失败，请检查网络连接是否正常！")}
        << false;
  }
  void updateThroughTheDialog() {
    QFETCH(QString, path);
    QFETCH(bool, confirm);
    QFETCH(QStringList, messages);
    QFETCH(bool, completes);
    const std::string listing = ReadFile(VESSARINE_DATA_DIR "/ieee-oui-2011-07.txt");
    QVERIFY(!listing.empty());
    LoopbackHttp server;
    server.Serve("/oui.txt", 200, listing);
    server.Serve("/missing.txt", 404, "gone");
    // The other four listings come from the loopback server too (none there).
    Open(MirrorSource(server.Url(path.toStdString()), server.Url("/site")));
    BoxCloser closer(m_dlg.get());
    closer.answers = {confirm ? QMessageBox::Ok : QMessageBox::Cancel};
    g_progress.SetPos(1000);  // the first step starts from the bottom again

    const std::string before = TodaysVersionText();
    Click(IDC_UPDATE_DB);
    QCOMPARE(Shown(IDC_DB_VERSION), std::string(confirm ? kVersionRunning : kVersionBuiltin));
    QTRY_COMPARE_WITH_TIMEOUT(g_bUpdateRunning.load(), uint8_t{0}, 20000);
    const std::string after = TodaysVersionText();
    QStringList shown;
    for (const BoxCloser::Seen& seen : closer.seen) {
      shown << seen.caption + QStringLiteral(": ") + seen.text;
      QCOMPARE(seen.parent, m_dlg.get());
      QCOMPARE(seen.icon, QMessageBox::NoIcon);
    }
    QCOMPARE(shown, messages);
    QCOMPARE(closer.seen.front().buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(closer.seen.back().buttons,
             confirm ? QMessageBox::Ok : QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(server.Requests().size(), size_t{confirm ? 5u : 0u});  // every registry's listing
    if (!completes) {
      QVERIFY(!QFile::exists(QString::fromStdString(CachePath(kCacheVersionFile))));
      return;
    }

    // The new version text (of the day the update began or ended) is in the
    // box by the time 完成更新 shows; the bar is full.
    const std::string version = Shown(IDC_DB_VERSION);
    QVERIFY2(version == before || version == after, qPrintable(GbkToQString(version)));
    QCOMPARE(closer.seen.back().versionBox, GbkToQString(version));
    const QRect filled = BarInk();
    QVERIFY(filled.left() <= 2 && filled.right() >= Item(IDC_PROGRESS)->width() - 3);
    // Both queries answer from the new store; the cache files are written.
    QCOMPARE(companyCount, listing2011::kRecords);
    Click(IDC_MAC_MATCH);
    QCOMPARE(g_strMacResult, std::string(kXeroxFirst));
    QCOMPARE(ReadFile(CachePath(kCacheMacFile)).size(), size_t{listing2011::kRecords} * kRecordSize);
    QCOMPARE(ReadFile(CachePath(kCacheVersionFile)), version);
    QVERIFY(!QFile::exists(QString::fromStdString(CachePath(kListingTempFile))));
  }

  // A second press while an update runs starts nothing; closing the dialog
  // mid-update neither crashes nor hangs the update thread.
  void updateWhileRunningAndClosing() {
    LoopbackHttp server;
    server.StallBeforeHeaders("/slow.txt");
    Open(MirrorSource(server.Url("/slow.txt"), server.Url("/site")));
    BoxCloser closer(m_dlg.get());
    Click(IDC_UPDATE_DB);
    QCOMPARE(closer.seen.size(), size_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(server.Requests().size(), size_t{5}, 5000);
    QCOMPARE(g_bUpdateRunning.load(), uint8_t{1});

    // The click returns only after any question it raised has been answered.
    Click(IDC_UPDATE_DB);
    QCOMPARE(closer.seen.size(), size_t{1});  // no question, nothing started
    QCOMPARE(server.Requests().size(), size_t{5});
    QCOMPARE(Shown(IDC_DB_VERSION), std::string(kVersionRunning));

    // Escape ends the dialog while the download hangs; the thread then
    // finishes without showing anything.
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QVERIFY(!m_dlg->isVisible());
    m_dlg.reset();
    server.ReleaseStalls();
    QTRY_COMPARE_WITH_TIMEOUT(g_bUpdateRunning.load(), uint8_t{0}, 20000);
    QCOMPARE(closer.seen.size(), size_t{1});
  }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
