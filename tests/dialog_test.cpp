// The main dialog driven as a user drives it, offscreen: start-up state,
// typing, both queries by clicks and keys, paging, the MAC-result guard,
// ending, colours and title font, data exchange and the update.
// Literals here are UTF-8; G() gives the GBK bytes the program holds.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/box_text.h"
#include "app/dialog_texts.h"
#include "app/progress_ctrl.h"
#include "app/vessarine_dlg.h"
#include "db/gbk.h"
#include "db/loader.h"
#include "db/store.h"
#include "db/texts.h"
#include "query/controls.h"
#include "query/queries.h"
#include "tests/listing_2011.h"
#include "tests/loopback_http.h"
#include "update/update.h"
#include "update/update_texts.h"

namespace {

const char kXeroxFirst[] =
    "\r\nXEROX CORPORATION\r\nM/S 105-50C\r\n800 PHILLIPS ROAD\r\nWEBSTER NY 14580\r\n"
    "UNITED STATES\n";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool Exists(const std::string& path) { return std::ifstream(path).good(); }

std::string G(const char* utf8) { return Utf8ToGbk(utf8); }
QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// True when `image` holds a pixel close to `colour` (anti-aliased text still
// has fully covered pixels in the text colour).
bool HasPixelNear(const QImage& image, QColor colour) {
  QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); ++y) {
    for (int x = 0; x < rgb.width(); ++x) {
      QColor c = rgb.pixelColor(x, y);
      if (std::abs(c.red() - colour.red()) < 40 && std::abs(c.green() - colour.green()) < 40 &&
          std::abs(c.blue() - colour.blue()) < 40)
        return true;
    }
  }
  return false;
}

// Closes every message box that comes up, answering from a queue (OK when
// it is empty), and records what was shown and what the window showed then.
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

  explicit BoxCloser(CVessarineDlg* dlg) : m_dlg(dlg) {
    connect(&m_timer, &QTimer::timeout, this, &BoxCloser::Poll);
    m_timer.start(5);
  }
  std::deque<QMessageBox::StandardButton> answers;
  std::vector<Seen> seen;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !m_dlg || box->property("answered").toBool()) return;
    box->setProperty("answered", true);
    auto* version = m_dlg->findChild<QLineEdit*>(QString::number(IDC_DB_VERSION));
    seen.push_back({box->windowTitle(), box->text(), version->text(), box->standardButtons(),
                    box->icon(), box->parentWidget()});
    QMessageBox::StandardButton answer = QMessageBox::Ok;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    box->button(answer)->click();
  }
  QPointer<CVessarineDlg> m_dlg;
  QTimer m_timer;
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

  // Replaces the text of an input box keystroke by keystroke.
  void Type(int id, const char* text) {
    QLineEdit* edit = Line(id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }

  void Open() {
    m_dlg = std::make_unique<CVessarineDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
  }

 private slots:
  // Every test starts with its own cache folder and, where it opens one, a
  // fresh dialog (which loads the database again).
  void initTestCase() {
    LoadBuiltinDatabase();
    m_builtinCount = companyCount;
    QVERIFY(m_builtinCount > 15000);
  }

  void init() {
    m_cache = std::make_unique<QTemporaryDir>();
    QVERIFY(m_cache->isValid());
    qputenv("XDG_CACHE_HOME", m_cache->path().toLocal8Bit());
    g_bRefreshPending.store(0);
    // The result variables outlive a dialog, as process-wide variables do.
    g_strMacResult.clear();
    g_strCompanyResult.clear();
  }
  void cleanup() {
    m_dlg.reset();
    m_cache.reset();
  }

  // Runs first: the font is made once per process.
  void titleFontAndColours() {
    QCOMPARE(g_bTitleFontCreated, uint8_t{0});
    m_dlg = std::make_unique<CVessarineDlg>();
    QCOMPARE(g_bTitleFontCreated, uint8_t{0});  // not at initialisation
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QTRY_COMPARE(g_bTitleFontCreated, uint8_t{1});
    QCOMPARE(CVessarineDlg::TitleFontCreations(), 1);

    QFont title = Item(IDC_TITLE)->font();
    QCOMPARE(title.family(), QStringLiteral("Arial"));
    QCOMPARE(title.pixelSize(), 20);
    QCOMPARE(title.weight(), QFont::DemiBold);

    // Later colour requests make no font.
    for (int i = 0; i < 3; ++i) m_dlg->repaint();
    QCOMPARE(CVessarineDlg::TitleFontCreations(), 1);

    auto text = [&](int id) { return Item(id)->palette().color(QPalette::WindowText); };
    QCOMPARE(text(IDC_TITLE), QColor(255, 0, 0));
    QCOMPARE(text(IDC_CONTACT), QColor(0, 0, 255));
    QCOMPARE(text(IDC_BUILD), QColor(0, 0, 255));
    QCOMPARE(text(IDC_SEPARATOR), QColor(255, 255, 0));
    QColor plain = m_dlg->palette().color(QPalette::WindowText);
    for (QLabel* label : m_dlg->findChildren<QLabel*>(QStringLiteral("-1"))) {
      QCOMPARE(label->palette().color(QPalette::WindowText), plain);
    }
    // And the pixels say so.
    QVERIFY(HasPixelNear(Item(IDC_TITLE)->grab().toImage(), QColor(255, 0, 0)));
    QVERIFY(HasPixelNear(Item(IDC_CONTACT)->grab().toImage(), QColor(0, 0, 255)));
    QVERIFY(!HasPixelNear(m_dlg->findChildren<QLabel*>(QStringLiteral("-1")).front()->grab().toImage(),
                          QColor(255, 0, 0)));

    // A second dialog in the same process gets no second font.
    m_dlg = std::make_unique<CVessarineDlg>();
    m_dlg->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_dlg.get()));
    QCOMPARE(CVessarineDlg::TitleFontCreations(), 1);
  }

  void startUpState() {
    Open();
    QCOMPARE(m_dlg->BoxText(IDC_MAC_INPUT), std::string("00:00:00:00:00:00"));
    QCOMPARE(m_dlg->BoxText(IDC_COMPANY_INPUT), std::string("VELMORA TECHWORKS"));
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), G("当前数据库版本为2011-7-1"));
    QCOMPARE(Line(IDC_MAC_INPUT)->text(), QStringLiteral("00:00:00:00:00:00"));
    QCOMPARE(Line(IDC_DB_VERSION)->text(), U("当前数据库版本为2011-7-1"));
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
    QCOMPARE(Item<QLabel>(IDC_TITLE)->text(), U("MAC地址和生产厂商/公司信息互查工具\nVessarine V1.3"));
    QCOMPARE(Item<QLabel>(IDC_SEPARATOR)->text(), QString(113, QLatin1Char('-')));
    QCOMPARE(Item<QLabel>(IDC_BUILD)->text(), U("Build版本 5"));
    QString contact = Item<QLabel>(IDC_CONTACT)->text();
    QVERIFY(contact.startsWith(U("在使用过程中发现问题可提交至")));
    QVERIFY(contact.endsWith(U("以获取更新")));
    QStringList unnamed;
    for (QLabel* label : m_dlg->findChildren<QLabel*>(QStringLiteral("-1"))) unnamed << label->text();
    QCOMPARE(unnamed, (QStringList{U("格式：xx:yy:zz:aa:bb:cc/xx-yy-zz-aa-bb-cc"),
                                   U("根据MAC地址查询公司信息"), U("根据公司英文名字查询MAC地址"),
                                   U("例子: Microsoft Corp.或者Microsoft "),
                                   U("      或前3个字节xx:yy:zz/xx-yy-zz")}));

    // Paging buttons disabled, everything else enabled.
    QVERIFY(!Button(IDC_COMPANY_CONTINUE)->isEnabled());
    QVERIFY(!Button(IDC_COMPANY_ALL)->isEnabled());
    for (int id : {IDC_EXIT, IDC_UPDATE_DB, IDC_MAC_MATCH, IDC_COMPANY_MATCH, IDC_LIST_ALL_MACS})
      QVERIFY(Button(id)->isEnabled());

    // Progress bar: range 1 to 1000, empty.
    int lower = 0, upper = 0;
    g_progress.GetRange(lower, upper);
    QCOMPARE(lower, 1);
    QCOMPARE(upper, 1000);
    QCOMPARE(Item<CProgressBarWidget>(IDC_PROGRESS)->FilledBlocks(), 0);

    // Focus on the first tab stop, and the Tab order is the template order.
    QCOMPARE(m_dlg->focusWidget(), Item(IDC_EXIT));
    QList<int> order;
    QWidget* w = Item(IDC_EXIT);
    do {
      if (w->parentWidget() == m_dlg.get() && (w->focusPolicy() & Qt::TabFocus))
        order << w->objectName().toInt();
      w = w->nextInFocusChain();
    } while (w != Item(IDC_EXIT));
    QCOMPARE(order, (QList<int>{1012, 1000, 1001, 1004, 1005, 1006, 1007, 1008, 1009, 1011,
                                1018, 1019}));

    // Window: caption, fixed size from the template's dialog units, close box
    // only, styles of the boxes.
    QCOMPARE(m_dlg->windowTitle(), QStringLiteral("Vessarine"));
    const int bx = m_dlg->BaseUnitX(), by = m_dlg->BaseUnitY();
    QCOMPARE(m_dlg->minimumSize(), m_dlg->maximumSize());
    QCOMPARE(m_dlg->width(), (464 * bx + 2) / 4);
    QCOMPARE(m_dlg->height(), (448 * by + 4) / 8);
    QCOMPARE(Item(IDC_COMPANY_RESULT)->geometry(),
             QRect((242 * bx + 2) / 4, (102 * by + 4) / 8, (214 * bx + 2) / 4, (247 * by + 4) / 8));
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

  void versionFromCache() {
    // With cache files the version box shows what the loader read.
    std::string dir = CacheDir();
    QVERIFY(QDir().mkpath(QString::fromStdString(dir)));
    std::string record = std::string("ABCDEF00000000") + "TEST CORP\n";
    record.resize(kRecordSize, '\0');
    std::ofstream(CachePath(kCacheMacFile), std::ios::binary) << record;
    std::ofstream(CachePath(kCacheAddrFile), std::ios::binary) << "0000LINE>";
    std::ofstream(CachePath(kCacheVersionFile), std::ios::binary) << G("当前数据库版本为2012-3-9");
    Open();
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), G("当前数据库版本为2012-3-9"));
    QCOMPARE(companyCount, 1);
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
      QTest::keyClick(mac, c);
      typed += c;
      QCOMPARE(g_strMacInput, typed);  // pulled on every change
    }
    // A pull copies every box; the company box was not touched.
    QCOMPARE(g_strCompanyInput, std::string("VELMORA TECHWORKS"));

    // Chinese typed into the company box arrives as GBK.
    Line(IDC_COMPANY_INPUT)->clear();
    Line(IDC_COMPANY_INPUT)->insert(U("中文"));
    QCOMPARE(g_strCompanyInput, G("中文"));

    // A push that changes both input boxes does not pull.
    int pulls = m_dlg->PullCount();
    g_strMacInput = "11:22:33";
    g_strCompanyInput = "ACME";
    m_dlg->Push();
    QCOMPARE(m_dlg->PullCount(), pulls);
    QCOMPARE(mac->text(), QStringLiteral("11:22:33"));
    QCOMPARE(g_strCompanyInput, std::string("ACME"));

    // The lookup uses the pulled text as it is, without reading the box again.
    Type(IDC_MAC_INPUT, "00:0d:d3");
    pulls = m_dlg->PullCount();
    Click(IDC_MAC_MATCH);
    QCOMPARE(m_dlg->PullCount(), pulls);
    QVERIFY(g_strMacResult.rfind("\r\n", 0) == 0);
    QVERIFY(g_strMacResult != kMsgNoMatch);
  }

  void macLookupAndListing() {
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    Click(IDC_MAC_MATCH);  // the initial 00:00:00:00:00:00
    QCOMPARE(g_strMacResult, std::string(kXeroxFirst));
    QCOMPARE(m_dlg->BoxText(IDC_MAC_RESULT), std::string(kXeroxFirst));
    QCOMPARE(Multi(IDC_MAC_RESULT)->toPlainText(),
             QStringLiteral("\nXEROX CORPORATION\nM/S 105-50C\n800 PHILLIPS ROAD\nWEBSTER NY 14580\n"
                            "UNITED STATES"));

    // Enter on a focused push button presses it; the format message shows
    // its single percent sign.
    Type(IDC_MAC_INPUT, "00.00.00");
    Button(IDC_MAC_MATCH)->setFocus();
    QTest::keyClick(Button(IDC_MAC_MATCH), Qt::Key_Return);
    QVERIFY(Multi(IDC_MAC_RESULT)->toPlainText().contains(QStringLiteral("%02x")));
    QVERIFY(!Multi(IDC_MAC_RESULT)->toPlainText().contains(QStringLiteral("%%")));

    Type(IDC_MAC_INPUT, "ab:cd:ef");
    Click(IDC_MAC_MATCH);
    QCOMPARE(Multi(IDC_MAC_RESULT)->toPlainText(), U("没有找到匹配"));

    Click(IDC_LIST_ALL_MACS);
    QVERIFY(g_strMacResult.size() > 500000);
    QVERIFY(g_strMacResult.rfind("\r\n00:00:00    XEROX CORPORATION\n\r\n00:00:01    XEROX", 0) == 0);
    QCOMPARE(m_dlg->BoxText(IDC_MAC_RESULT), g_strMacResult);
    QTextDocument* doc = Multi(IDC_MAC_RESULT)->document();
    QCOMPARE(doc->blockCount(), m_builtinCount + 1);  // a line break opens the text
    QCOMPARE(doc->findBlockByNumber(1).text(), QStringLiteral("00:00:00    XEROX CORPORATION"));
    QCOMPARE(doc->findBlockByNumber(m_builtinCount).text(), QStringLiteral("FC:FB:FB    Cisco Systems"));
  }

  void xeroxPaging() {
    if (!kBuiltinIs2011) QSKIP("built-in copy made from another listing");
    Open();
    auto states = [&] {
      return std::make_pair(Button(IDC_COMPANY_CONTINUE)->isEnabled(),
                            Button(IDC_COMPANY_ALL)->isEnabled());
    };
    auto shown = [&] { return m_dlg->BoxText(IDC_COMPANY_RESULT); };
    Type(IDC_COMPANY_INPUT, "xerox");
    Click(IDC_COMPANY_MATCH);
    QVERIFY(shown().find(G("匹配1\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配5\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配6")) == std::string::npos);
    QVERIFY(shown().find("00:00:04:**:**:**") != std::string::npos);
    QVERIFY(shown().find(kPageTrailer) != std::string::npos);
    QCOMPARE(states(), std::make_pair(true, true));

    Click(IDC_COMPANY_CONTINUE);
    QVERIFY(shown().find(G("匹配6\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配10\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配5\r")) == std::string::npos);
    QVERIFY(shown().find(kPageTrailer) != std::string::npos);
    QCOMPARE(states(), std::make_pair(true, true));

    Click(IDC_COMPANY_CONTINUE);
    QVERIFY(shown().find(G("匹配11\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配14\r")) != std::string::npos);
    QVERIFY(shown().find("9C:93:4E:**:**:**") != std::string::npos);
    QVERIFY(shown().find(kPageTrailer) == std::string::npos);
    QCOMPARE(states(), std::make_pair(false, true));

    // A disabled button ignores clicks.
    std::string before = shown();
    Click(IDC_COMPANY_CONTINUE);
    QCOMPARE(shown(), before);

    Click(IDC_COMPANY_ALL);
    QVERIFY(shown().find(G("匹配1\r")) != std::string::npos);
    QVERIFY(shown().find(G("匹配14\r")) != std::string::npos);
    QVERIFY(shown().find(kPageTrailer) == std::string::npos);
    QCOMPARE(states(), std::make_pair(false, false));

    // A MAC lookup in the middle of a paged search disables both.
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(states(), std::make_pair(true, true));
    Click(IDC_MAC_MATCH);
    QCOMPARE(states(), std::make_pair(false, false));

    Type(IDC_COMPANY_INPUT, "PHILLIPS");
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->toPlainText(), U("没有找到匹配"));
  }

  void macResultGuard() {
    Open();
    Type(IDC_COMPANY_INPUT, "lenovo");
    g_strMacResult = std::string(5000, 'a');
    m_dlg->Push();
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(g_strMacResult, std::string(5000, 'a'));
    QCOMPARE(m_dlg->BoxText(IDC_MAC_RESULT), std::string(5000, 'a'));

    const std::string notice = G("\r\n缓存过大，影响其他操作性能\r\n清除缓存");
    g_strMacResult = std::string(5001, 'a');
    m_dlg->Push();
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(g_strMacResult, notice);
    QCOMPARE(m_dlg->BoxText(IDC_MAC_RESULT), notice);

    // After the full listing, 继续 and 全部 leave it; 匹配 replaces it.
    Click(IDC_LIST_ALL_MACS);
    const size_t listing = g_strMacResult.size();
    Type(IDC_COMPANY_INPUT, "xerox");
    Click(IDC_COMPANY_MATCH);
    QCOMPARE(m_dlg->BoxText(IDC_MAC_RESULT), notice);
    QCOMPARE(g_strMacResult, notice);
    Click(IDC_LIST_ALL_MACS);  // (disables the paging buttons: call them directly)
    m_dlg->OnCompanyContinue();
    m_dlg->OnCompanyAll();
    QCOMPARE(g_strMacResult.size(), listing);
  }

  void enterDoesNothing() {
    Open();
    for (int id : {IDC_MAC_INPUT, IDC_COMPANY_INPUT}) {
      Line(id)->setFocus();
      QTest::keyClick(Line(id), Qt::Key_Return);
      QTest::keyClick(Line(id), Qt::Key_Enter);
    }
    QVERIFY(m_dlg->isVisible());
    QVERIFY(g_strMacResult.empty());
    QVERIFY(g_strCompanyResult.empty());
    QVERIFY(Multi(IDC_MAC_RESULT)->toPlainText().isEmpty());
  }

  void escapeAndCloseBoxKeepTheStore() {
    Open();
    QTest::keyClick(Line(IDC_MAC_INPUT), Qt::Key_Escape);
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), CVessarineDlg::kIdCancel);
    QVERIFY(companyMacList != nullptr);
    QCOMPARE(companyCount, m_builtinCount);

    Open();
    m_dlg->close();  // the close box
    QVERIFY(!m_dlg->isVisible());
    QCOMPARE(m_dlg->result(), CVessarineDlg::kIdCancel);
    QVERIFY(companyMacList != nullptr);
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

  void pushRewritesOnlyLongTexts() {
    Open();
    auto writesAfterPush = [&] {
      m_dlg->Push();
      return m_dlg->BoxWriteCount(IDC_COMPANY_RESULT);
    };
    g_strCompanyResult = std::string(255, 'x');
    int w = writesAfterPush();
    QCOMPARE(writesAfterPush(), w);  // unchanged and short: left alone
    g_strCompanyResult = std::string(256, 'x');
    w = writesAfterPush();
    QCOMPARE(writesAfterPush(), w + 1);  // long: written on every push
    QCOMPARE(writesAfterPush(), w + 2);

    // A rewrite of a long text shows it from its start again.
    g_strCompanyResult.clear();
    for (int i = 0; i < 200; ++i) g_strCompanyResult += "line\r\n";
    m_dlg->Push();
    QScrollBar* bar = Multi(IDC_COMPANY_RESULT)->verticalScrollBar();
    bar->setValue(bar->maximum());
    QVERIFY(bar->value() > 0);
    m_dlg->Push();
    QCOMPARE(bar->value(), 0);
  }

  void crLfDisplayAndExactRoundTrip() {
    Open();
    g_strCompanyResult = "a\r\nb\nc\rd\r\n\r\ne\n\r";
    m_dlg->Push();
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->toPlainText(), QStringLiteral("a\nbcd\n\ne"));
    QCOMPARE(Multi(IDC_COMPANY_RESULT)->document()->blockCount(), 4);

    // Whatever was pushed, a pull reads back byte for byte, also bytes that
    // are no GBK (an ASCII-clean conversion would lose them).
    const std::string odd = std::string("x\xff\x80y\r\r\n\n\x81", 9) + std::string(1, '\0') + "z";
    g_strCompanyResult = "a\r\nb\nc\rd\r\n\r\ne\n\r";
    g_strMacResult = odd;
    g_strDbVersion = "\xa1\xa1 \xfe";
    g_strMacInput = "00:00:00\r\n";
    m_dlg->Push();
    const std::string company = g_strCompanyResult, mac = g_strMacResult,
                      version = g_strDbVersion, input = g_strMacInput;
    g_strCompanyResult = g_strMacResult = g_strDbVersion = g_strMacInput = "";
    m_dlg->Pull();
    QCOMPARE(g_strCompanyResult, company);
    QCOMPARE(g_strMacResult, mac);
    QCOMPARE(g_strDbVersion, version);
    QCOMPARE(g_strMacInput, input);
  }

  void paintHonoursRefreshRequest() {
    Open();
    int pushes = m_dlg->PushCount();
    m_dlg->repaint();
    QCOMPARE(m_dlg->PushCount(), pushes);
    g_strDbVersion = G("当前数据库版本为2012-3-5");
    g_bRefreshPending.store(1);
    m_dlg->repaint();
    QCOMPARE(m_dlg->PushCount(), pushes + 1);
    QCOMPARE(g_bRefreshPending.load(), uint8_t{0});
    QCOMPARE(Line(IDC_DB_VERSION)->text(), U("当前数据库版本为2012-3-5"));
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
  void updateThroughTheDialog() {
    const std::string listing = ReadAll(std::string(VESSARINE_DATA_DIR "/") + listing2011::kFileName);
    QVERIFY(!listing.empty());
    LoopbackHttp server;
    server.Serve("/oui.txt", 200, listing);
    server.Serve("/missing.txt", 404, "gone");
    CVessarineDlg::SetListingUrl(server.Url("/oui.txt"));
    Open();
    BoxCloser closer(m_dlg.get());

    // Cancel in the question starts nothing.
    closer.answers = {QMessageBox::Cancel};
    Click(IDC_UPDATE_DB);
    QCOMPARE(closer.seen.size(), size_t{1});
    QCOMPARE(closer.seen[0].caption, U("更新"));
    QCOMPARE(closer.seen[0].text,
             U("点击\"取消\"键退出更新\t点击\"确认\"键开始更新\n\n"
               "更新过程将在后台运行，此过程将占用较长时间，请不要在更新完毕前关闭"));
    QCOMPARE(closer.seen[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(closer.seen[0].parent, m_dlg.get());
    QCOMPARE(g_bUpdateRunning.load(), uint8_t{0});
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), std::string(kVersionBuiltin));
    QVERIFY(server.Requests().empty());

    // OK: the update runs; the version box says so at once.
    g_progress.SetPos(1000);  // the first step starts from the bottom again
    Click(IDC_UPDATE_DB);
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), std::string(kVersionRunning));
    QTRY_COMPARE_WITH_TIMEOUT(g_bUpdateRunning.load(), uint8_t{0}, 20000);
    QCOMPARE(closer.seen.size(), size_t{4});
    QCOMPARE(closer.seen[2].caption, U("更新"));
    QCOMPARE(closer.seen[2].text, U("下载完成，进行数据库更新"));
    QCOMPARE(closer.seen[3].caption, U("更新"));
    QCOMPARE(closer.seen[3].text, U("完成更新"));
    QCOMPARE(closer.seen[3].buttons, QMessageBox::Ok);
    QCOMPARE(closer.seen[3].icon, QMessageBox::NoIcon);
    QCOMPARE(closer.seen[3].parent, m_dlg.get());
    // The new version text is in the box by the time 完成更新 shows.
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    char today[64];
    std::snprintf(today, sizeof today, kVersionDateFormat, local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    QCOMPARE(closer.seen[3].versionBox, GbkToQString(today));
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), std::string(today));
    QCOMPARE(g_progress.GetPos(), 1000);
    QCOMPARE(server.Requests().size(), size_t{1});

    // Both queries answer from the new store; the cache files are written.
    QCOMPARE(companyCount, listing2011::kRecords);
    Type(IDC_MAC_INPUT, "00:00:00");
    Click(IDC_MAC_MATCH);
    QCOMPARE(g_strMacResult, std::string(kXeroxFirst));
    QCOMPARE(ReadAll(CachePath(kCacheMacFile)).size(), size_t{listing2011::kRecords} * kRecordSize);
    QCOMPARE(ReadAll(CachePath(kCacheVersionFile)), std::string(today));
    QVERIFY(!Exists(CachePath(kListingTempFile)));

    // A failed download: M2, the running text stays.
    CVessarineDlg::SetListingUrl(server.Url("/missing.txt"));
    Click(IDC_UPDATE_DB);
    QTRY_COMPARE_WITH_TIMEOUT(g_bUpdateRunning.load(), uint8_t{0}, 20000);
    QCOMPARE(closer.seen.size(), size_t{6});
    QCOMPARE(closer.seen[5].caption, U("更新失败"));
    QCOMPARE(closer.seen[5].text, U("更新MAC地址列表失败，请检查网络连接是否正常！"));
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), std::string(kVersionRunning));
    CVessarineDlg::SetListingUrl("");
  }

  // A second press while an update runs starts nothing; closing the dialog
  // mid-update neither crashes nor hangs the update thread.
  void updateWhileRunningAndClosing() {
    LoopbackHttp server;
    server.StallBeforeHeaders("/slow.txt");
    CVessarineDlg::SetListingUrl(server.Url("/slow.txt"));
    Open();
    BoxCloser closer(m_dlg.get());
    Click(IDC_UPDATE_DB);
    QCOMPARE(closer.seen.size(), size_t{1});
    QTRY_COMPARE_WITH_TIMEOUT(server.Requests().size(), size_t{1}, 5000);
    QCOMPARE(g_bUpdateRunning.load(), uint8_t{1});

    Click(IDC_UPDATE_DB);
    QTest::qWait(100);
    QCOMPARE(closer.seen.size(), size_t{1});  // no question, nothing started
    QCOMPARE(server.Requests().size(), size_t{1});
    QCOMPARE(m_dlg->BoxText(IDC_DB_VERSION), std::string(kVersionRunning));

    // Escape ends the dialog while the download hangs; the thread then
    // finishes without showing anything.
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    QVERIFY(!m_dlg->isVisible());
    m_dlg.reset();
    server.ReleaseStalls();
    QTRY_COMPARE_WITH_TIMEOUT(g_bUpdateRunning.load(), uint8_t{0}, 20000);
    QCOMPARE(closer.seen.size(), size_t{1});
    CVessarineDlg::SetListingUrl("");
  }
};

QTEST_MAIN(DialogTest)
#include "dialog_test.moc"
