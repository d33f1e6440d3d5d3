// The main window and the scan window on the offscreen platform, in a
// temporary working directory: start-up, the ticker, a local scan through
// the real timer, the scan controls, and the menu commands on the working
// files.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>

#include "history/history_store.h"
#include "platform/scan_lock.h"
#include "results/pass_output.h"
#include "results/settings_save.h"
#include "scan/scan_driver.h"
#include "sim/market_sim_archive.h"
#include "tests/gui/application.h"
#include "tests/support/scan_process.h"
#include "tests/support/temp_dir.h"
#include "ui/chart_form.h"
#include "ui/qt/qt_services.h"
#include "ui/splash_form.h"
#include "ui/tracing_form.h"

namespace quillon {
namespace {

using testing::BackgroundScan;
using testing::RunScan;
using testing::TempDir;
using testing::WaitUntil;

// Processes events until `done` holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

class RecordingLauncher final : public ProgramLauncher {
  public:
    void LaunchProgram(const std::string& file) override { Launched.push_back(file); }
    std::vector<std::string> Launched;
};

// Answers questions from a script and notes what the lamp showed meanwhile.
class LampWatchingMessages final : public MessageService {
  public:
    void ShowMessage(const std::string& text) override { Shown.push_back(text); }
    bool Confirm(const std::string& text) override {
        Asked.push_back(text);
        if (LampDuringQuestion) LampSeen = LampDuringQuestion();
        bool answer = !Answers.empty() && Answers.front();
        if (!Answers.empty()) Answers.pop_front();
        return answer;
    }
    std::vector<std::string> Shown;
    std::vector<std::string> Asked;
    std::deque<bool> Answers;
    std::function<QColor()> LampDuringQuestion;
    QColor LampSeen;
};

const QColor kLime(0, 255, 0);
const QColor kRed(255, 0, 0);
const QColor kYellow(255, 255, 0);

class ShellTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(ToQt(dir.Path())));
        splash = std::make_unique<TSplashForm>(context, launcher);
        tracing = std::make_unique<TTracingForm>(context, splash->Timer1(), splash.get());
        splash->SetScanWindow(tracing.get());
        messages.LampDuringQuestion = [this] { return Lamp(); };
    }
    void TearDown() override {
        tracing.reset();
        splash.reset();
        QDir::setCurrent(previous_);
    }

    // An archive of `count` stocks with quotes from the local file.
    void LocalArchive(int count) {
        const DateTime today = SystemClock().Now();
        sim::Market market(7, today);
        ASSERT_TRUE(sim::WriteArchive(market, sim::ArchiveTickers(market, count), dir.Path()));
        splash->Start();
        Action("GetQuotesFromLocalFileQuotestxt1")->trigger();
    }

    // START, then the first step of the paused scan.
    void OpenScan() {
        Find<QPushButton>("PB_Start")->click();
        ASSERT_TRUE(WaitFor([this] { return Status(0) == kPressGo; }, 2000));
    }

    // A control of the scan window, else of the main window.
    template <typename T>
    T* Find(const char* name) const {
        T* found = tracing->findChild<T*>(QString::fromLatin1(name));
        return found ? found : splash->findChild<T*>(QString::fromLatin1(name));
    }
    QAction* Action(const char* name) const { return Find<QAction>(name); }
    void Click(const char* name) {
        QTest::mouseClick(Find<QWidget>(name), Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    std::string Status(int panel) const { return tracing->StatusText(panel); }
    QColor Lamp() const { return Find<QFrame>("Panel1")->palette().color(QPalette::Window); }
    std::string Memo() const { return FromQt(Find<QPlainTextEdit>("Memo1")->toPlainText()); }
    ScanDriver& Driver() { return tracing->Driver(); }
    std::string Caption() const { return FromQt(splash->windowTitle()); }

    TempDir dir;
    SystemClock clock;
    LampWatchingMessages messages;
    CountingBeeper beeper;
    Context context{clock, messages, beeper};
    RecordingLauncher launcher;
    std::unique_ptr<TSplashForm> splash;
    std::unique_ptr<TTracingForm> tracing;

  private:
    QString previous_;
};

TEST_F(ShellTest, StartUpWritesTheDefaultsAndShowsCaptionVersionAndTicker) {
    splash->Start();
    EXPECT_TRUE(dir.Exists("Quillon.---"));
    EXPECT_EQ(Caption(), "Welcome to Quillon [" + dir.File("Symbols.sym") + "]");
    EXPECT_EQ(Find<QLabel>("Version")->text(), "Version 1.96");
    EXPECT_EQ(FromQt(Find<QLabel>("Ticker")->text()), kDefaultTickerText);
    EXPECT_TRUE(splash->Timer1().isActive());
    EXPECT_EQ(splash->Timer1().interval(), kTickerInterval);
    EXPECT_TRUE(Action("GetQuotesFromQuoteServer1")->isChecked());
    EXPECT_FALSE(Action("GetQuotesFromLocalFileQuotestxt1")->isChecked());
    // The status line under the panel names the working directory.
    EXPECT_EQ(FromQt(Find<QLabel>("WorkingDirectory")->text()), "Working directory: " + dir.Path());
    EXPECT_EQ(splash->findChild<QFrame*>("Panel1")->size(), QSize(617, 186));

    // The timer scrolls the ticker one character to the left.
    ASSERT_TRUE(
        WaitFor([this] { return Find<QLabel>("Ticker")->text() != kDefaultTickerText; }, 2000));
    EXPECT_EQ(FromQt(Find<QLabel>("Ticker")->text()), ScrollTicker(kDefaultTickerText));
}

// The status line follows the working directory each time the main window
// is activated; a path too long for the window loses its middle, and its
// tooltip holds it whole.
TEST_F(ShellTest, TheStatusLineNamesTheWorkingDirectory) {
    const std::string longName = dir.File(std::string(90, 'd') + "/" + std::string(90, 'e'));
    std::filesystem::create_directories(longName);
    QDir::setCurrent(ToQt(longName));
    splash->Start();
    QLabel* line = Find<QLabel>("WorkingDirectory");
    const QString shown = line->text();
    EXPECT_TRUE(shown.startsWith("Working directory: " + ToQt(dir.Path()).left(8)))
        << FromQt(shown);
    EXPECT_TRUE(shown.endsWith(QString(20, 'e'))) << FromQt(shown);
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << FromQt(shown);
    EXPECT_EQ(FromQt(line->toolTip()), longName);
    EXPECT_LE(line->fontMetrics().horizontalAdvance(shown), line->width());
    EXPECT_TRUE(splash->rect().contains(line->mapTo(splash.get(), line->rect().bottomRight())));

    // Back in the short directory: shown whole at the next activation.
    QDir::setCurrent(ToQt(dir.Path()));
    splash->Hooks.ChooseSymbolFile = [](QWidget*, const std::string&) {
        return std::optional<std::string>();
    };
    Action("ChooseSymbolFileName1")->trigger();
    EXPECT_EQ(FromQt(line->text()), "Working directory: " + dir.Path());
    EXPECT_EQ(FromQt(line->toolTip()), dir.Path());
}

// The program's icon comes in every size the icon theme has, and the
// program gives it to every window.
TEST_F(ShellTest, EveryWindowHasTheProgramIcon) {
    const QIcon icon = ProgramIcon();
    ASSERT_FALSE(icon.isNull());
    QList<QSize> sizes;
    for (int n : {16, 32, 48, 64, 128, 256})
        sizes << QSize(n, n);
    EXPECT_EQ(icon.availableSizes(), sizes);
    EXPECT_EQ(icon.pixmap(QSize(16, 16)).size(), QSize(16, 16));

    QApplication::setWindowIcon(icon);
    for (QWidget* window : std::initializer_list<QWidget*>{splash.get(), tracing.get()}) {
        EXPECT_FALSE(window->windowIcon().isNull()) << FromQt(window->objectName());
        EXPECT_EQ(window->windowIcon().availableSizes(), sizes);
    }
    QApplication::setWindowIcon(QIcon());
}

// View, Chart... opens the chart window with the recorded symbols to choose
// from; the scan window opens it for the symbol being processed. Both read
// History.db in the working directory.
TEST_F(ShellTest, TheChartOpensFromTheViewMenuAndFromTheScanWindow) {
    {
        HistoryStore store;
        ASSERT_TRUE(store.Open(dir.File("History.db"))) << store.Error();
        for (HistoryDay day : {20251201, 20251202, 20251203}) {
            HistoryRow row;
            row.Symbol = "ABC";
            row.Day = day;
            row.Iv30 = 30;
            row.Last = 10;
            row.Verdict = day == 20251202 ? Verdict::SavedDown : Verdict::Rejected;
            ASSERT_TRUE(store.Record(row)) << store.Error();
        }
    }
    splash->Start();
    Action("Chart1")->trigger();
    auto* fromMenu = splash->findChild<TChartForm*>();
    ASSERT_NE(fromMenu, nullptr);
    EXPECT_TRUE(fromMenu->isVisible());
    EXPECT_EQ(fromMenu->Symbol(), "");
    EXPECT_TRUE(fromMenu->Series().Empty());
    auto* field = fromMenu->findChild<QComboBox*>(QStringLiteral("SymbolField"));
    ASSERT_NE(field, nullptr);
    ASSERT_EQ(field->count(), 1);
    EXPECT_EQ(field->itemText(0), QStringLiteral("ABC"));
    // The window goes when closed.
    fromMenu->close();
    EXPECT_TRUE(WaitFor([this] { return splash->findChild<TChartForm*>() == nullptr; }, 2000));

    context.quote.Ticker = "ABC";
    tracing->OpenChart();
    auto* fromScan = tracing->findChild<TChartForm*>();
    ASSERT_NE(fromScan, nullptr);
    EXPECT_EQ(fromScan->Symbol(), "ABC");
    EXPECT_EQ(fromScan->Series().Points.size(), 3u);
    EXPECT_EQ(fromScan->Series().MarkedDays(), 1);
    fromScan->close();
}

TEST_F(ShellTest, LocalScanRunsToDoneThroughTheTimerWithPauseAndGo) {
    LocalArchive(12);
    OpenScan();
    EXPECT_FALSE(splash->isVisible());
    EXPECT_TRUE(tracing->isVisible());
    EXPECT_EQ(splash->Timer1().interval(), kScanInterval);
    EXPECT_EQ(Lamp(), kRed);
    EXPECT_TRUE(Find<QPushButton>("PB_Go")->isEnabled());
    EXPECT_FALSE(Find<QCheckBox>("CkRepeat")->isEnabled()) << "no Repeat for the local file";

    Click("PB_Go");
    EXPECT_EQ(Lamp(), kLime);
    EXPECT_FALSE(Find<QPushButton>("PB_Go")->isEnabled());
    EXPECT_EQ(tracing->focusWidget(), Find<QWidget>("Panel1")) << "the lamp takes the focus";

    // Pause half-way: a symbol being read from the file is still finished,
    // then nothing moves until Go.
    ASSERT_TRUE(WaitFor([this] { return context.counters.SymbolIndex >= 4; }, 5000));
    Click("PB_Pause");
    EXPECT_EQ(Lamp(), kRed);
    QTest::qWait(200);
    const int finished = Driver().SymbolsFinished();
    QTest::qWait(300);
    EXPECT_EQ(Driver().SymbolsFinished(), finished);
    EXPECT_EQ(Status(0), kPressGo);

    Click("PB_Go");
    ASSERT_TRUE(WaitFor([this] { return Status(0) == kDone; }, 10000)) << Status(0);
    EXPECT_EQ(Lamp(), kRed);
    EXPECT_EQ(Driver().SymbolsFinished(), 12);
    // The pass over, the log shows its change list.
    EXPECT_EQ(Memo(), FromQt(ToQt(Driver().ChangesText()).replace("\r\n", "\n")));
    EXPECT_EQ(Memo().rfind("Changes of ", 0), 0u) << Memo();

    // Closing the scan window brings back the main window and its ticker.
    tracing->close();
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(splash->Timer1().interval(), kTickerInterval);
}

TEST_F(ShellTest, AServerScanTalksThroughTheEventLoop) {
    // A listening socket on loopback stands in for the quote server.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    splash->Start();
    dir.Write("Symbols.sym", "IBM\r\n");
    dir.Write("QuoteHosts.txt", "127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "\r\n");
    OpenScan();
    Click("PB_Go");
    ASSERT_TRUE(WaitFor([this] { return Driver().ScanState() == AwaitReply; }, 3000)) << Status(1);
    EXPECT_TRUE(Driver().EverConnected());

    // Paused while the page comes in: it is received whole, and parsed after Go.
    Click("PB_Pause");
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    std::string request(4096, '\0');
    request.resize(static_cast<std::size_t>(::recv(peer, request.data(), request.size(), 0)));
    EXPECT_EQ(request.rfind("GET /cgi-bin/getquote.dll?TICKER=IBM\r\nAuthorization: Basic ", 0), 0u)
        << request;
    ASSERT_EQ(::send(peer, "<b>hello</b>", 12, 0), 12);
    ::close(peer);
    ::close(listener);
    ASSERT_TRUE(WaitFor([this] { return Driver().ScanState() == ProcessReply; }, 3000));
    EXPECT_EQ(Status(1), "Received 12 Bytes Total");
    EXPECT_EQ(context.quote.PageText, "<B>HELLO</B>");

    // Not a quote page: the symbol is skipped and the one-symbol pass is done.
    Click("PB_Go");
    ASSERT_TRUE(WaitFor([this] { return Status(0) == kDone; }, 3000)) << Status(0);
}

TEST_F(ShellTest, ResetTurnsTheLampYellowWhileItAsks) {
    LocalArchive(3);
    OpenScan();
    messages.Answers = {false, true};
    const std::string question =
        "This will reset the process count and overwrite Reset.txt. Are you sure ?";

    Click("PB_Reset");
    EXPECT_EQ(messages.LampSeen, kYellow);
    ASSERT_EQ(messages.Asked.size(), 1u);
    EXPECT_EQ(messages.Asked.back(), question);
    EXPECT_FALSE(Driver().Running()) << "No leaves the scan paused";
    EXPECT_EQ(Lamp(), kRed);

    Click("PB_Reset");
    EXPECT_EQ(messages.LampSeen, kYellow);
    EXPECT_TRUE(Driver().Running()) << "Yes restarts the pass";
    EXPECT_TRUE(context.runtime.RestartPending);
    EXPECT_EQ(Lamp(), kLime);
}

TEST_F(ShellTest, CheckingRepeatWhilePausedStartsTheScan) {
    splash->Start();
    dir.Write("Symbols.sym", "IBM\r\n");
    OpenScan();
    ASSERT_TRUE(Find<QCheckBox>("CkRepeat")->isEnabled());
    Click("CkRepeat");
    EXPECT_TRUE(Driver().Running());
    EXPECT_EQ(Lamp(), kLime);
    Click("CkRepeat");
    EXPECT_TRUE(Driver().Running()) << "unchecking does nothing";
}

TEST_F(ShellTest, TheAlarmBoxSilencesARunningAlarm) {
    LocalArchive(400);
    OpenScan();
    Click("CkAlarm");
    Click("PB_Go");
    splash->Timer1().stop();  // stepped by hand from here, much faster
    for (int i = 0; i < 1300 && Driver().AlarmTicks() == 0; ++i)
        Driver().ScanStep();
    ASSERT_GT(Driver().AlarmTicks(), 0) << "some stock of the archive passes the filters";
    EXPECT_EQ(Status(0), "Alarm: " + context.quote.Ticker + " saved");
    for (int i = 0; i < 36; ++i)
        Driver().ScanStep();
    EXPECT_EQ(beeper.Count, 2);

    Click("CkAlarm");
    EXPECT_EQ(Driver().AlarmTicks(), 0);
    for (int i = 0; i < 36; ++i)
        Driver().ScanStep();
    EXPECT_EQ(beeper.Count, 2);
}

TEST_F(ShellTest, ChoosingTheSymbolFileForgetsThePosition) {
    splash->Start();
    const std::string other = dir.File("Other.sym");
    struct Case {
        std::optional<std::string> chosen;
        std::string expected;
    } cases[] = {{other, other}, {std::nullopt, other}};
    for (const Case& c : cases) {
        dir.Write("Progress.---", "3 7");
        splash->Hooks.ChooseSymbolFile = [&](QWidget*, const std::string& preselected) {
            EXPECT_EQ(preselected, context.settings.SymbolFileName);
            return c.chosen;
        };
        Action("ChooseSymbolFileName1")->trigger();
        EXPECT_EQ(context.settings.SymbolFileName, c.expected);
        EXPECT_EQ(Caption(), "Welcome to Quillon [" + c.expected + "]");
        EXPECT_FALSE(dir.Exists("Progress.---"));
        EXPECT_NE(dir.Read("Quillon.---").find(other), std::string::npos);
    }
}

TEST_F(ShellTest, SwitchingTheDataSourceForcesANewPassOnlyOnAChange) {
    splash->Start();
    QAction* server = Action("GetQuotesFromQuoteServer1");
    QAction* local = Action("GetQuotesFromLocalFileQuotestxt1");
    struct Case {
        QAction* item;
        bool local;
        bool progressKept;
    } cases[] = {
        {local, true, false}, {local, true, true}, {server, false, false}, {server, false, true}};
    for (const Case& c : cases) {
        dir.Write("Progress.---", "3 7");
        c.item->trigger();
        EXPECT_EQ(local->isChecked(), c.local);
        EXPECT_EQ(server->isChecked(), !c.local);
        EXPECT_EQ(dir.Exists("Progress.---"), c.progressKept);
        Settings stored;
        LoadSettings(stored, context.files);
        EXPECT_EQ(stored.QuotesFromLocalFile, c.local ? 1 : 0);
    }
}

TEST_F(ShellTest, EditSymbolFileCreatesAMissingFileForTheEditor) {
    splash->Start();
    dir.Write("Progress.---", "3 7");
    Action("EditSymbolFile1")->trigger();
    EXPECT_TRUE(dir.Exists("Symbols.sym"));
    EXPECT_EQ(dir.Read("Symbols.sym"), "");
    EXPECT_EQ(launcher.Launched, std::vector<std::string>{dir.File("Symbols.sym")});
    EXPECT_FALSE(dir.Exists("Progress.---"));
    EXPECT_TRUE(context.runtime.RestartPending);

    Action("ResultsResultstxt1")->trigger();
    Action("RunNotepad1")->trigger();
    EXPECT_EQ(launcher.Launched.at(1), dir.File("Results.txt"));
    EXPECT_EQ(launcher.Launched.at(2), "");
}

TEST_F(ShellTest, SwapsExchangeTheSymbolFileWithAList) {
    splash->Start();
    struct Case {
        const char* item;
        const char* list;
        bool listExists;
    } cases[] = {
        {"SwapSymbolFileGoodSymtxtGoodSymbbols1", "GoodSym.txt", true},
        {"SwapSymbolFileBadSymtxtBadSymbols1", "BadSym.txt", true},
        {"SwapSymbolFileSavedSymtxtSavedSymbols1", "SavedSym.txt", true},
        {"SwapSymbolFileGoodSymtxtGoodSymbbols1", "GoodSym.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        dir.Write("Symbols.sym", "IBM\r\n");
        std::filesystem::remove(dir.File(c.list));
        if (c.listExists) dir.Write(c.list, "MSFT\r\n");
        messages.Answers = {true};
        Action(c.item)->trigger();
        ASSERT_FALSE(messages.Asked.empty());
        EXPECT_EQ(messages.Asked.back(), "Swap the contents of " + dir.File("Symbols.sym") +
                                             "\nwith the contents of " + dir.File(c.list) +
                                             "\nAre you sure ?");
        EXPECT_EQ(dir.Exists("Symbols.sym"), c.listExists);
        if (c.listExists) {
            EXPECT_EQ(dir.Read("Symbols.sym"), "MSFT\r\n");
        }
        EXPECT_EQ(dir.Read(c.list), "IBM\r\n");
        EXPECT_FALSE(dir.Exists("QUIL---.tmp"));
    }

    // No leaves both files as they were.
    dir.Write("Symbols.sym", "IBM\r\n");
    messages.Answers = {false};
    Action("SwapSymbolFileBadSymtxtBadSymbols1")->trigger();
    EXPECT_EQ(dir.Read("Symbols.sym"), "IBM\r\n");
    EXPECT_EQ(dir.Read("BadSym.txt"), "IBM\r\n");
}

// A PATH holding `installed`, under /usr/bin.
std::function<QString(const QString&)> Installed(std::vector<const char*> installed) {
    return [installed](const QString& name) {
        for (const char* program : installed) {
            if (name == QLatin1String(program)) return "/usr/bin/" + name;
        }
        return QString();
    };
}

std::function<QString(const char*)> Environment(const char* visual, const char* editor) {
    return [visual, editor](const char* name) {
        const std::string variable = name;
        return QString::fromLatin1(variable == "VISUAL"   ? visual
                                   : variable == "EDITOR" ? editor
                                                          : "");
    };
}

// One line per candidate: the program, its arguments, and "(hands on)" for
// a program that reports by its exit status.
QStringList Lines(const std::vector<EditorCommand>& candidates) {
    QStringList lines;
    for (const EditorCommand& c : candidates)
        lines << (QStringList{c.program} + c.arguments).join(' ') +
                     (c.handsOn ? " (hands on)" : "");
    return lines;
}

TEST(ShellRules, TheEditorCandidatesInTheOrderTheyAreTried) {
    struct Case {
        QString file;
        std::function<QString(const char*)> environment;
        std::function<QString(const QString&)> findProgram;
        QStringList expected;
    } cases[] = {
        {"/w/Results.txt",
         Environment("vim", "nano"),
         Installed({"xdg-open", "xterm", "gedit", "mousepad"}),
         {"/usr/bin/xdg-open /w/Results.txt (hands on)", "/usr/bin/xterm -e vim /w/Results.txt",
          "/usr/bin/xterm -e nano /w/Results.txt", "/usr/bin/gedit /w/Results.txt",
          "/usr/bin/mousepad /w/Results.txt"}},
        // No file: the desktop's opener has nothing to open.
        {"",
         Environment("vim -n", ""),
         Installed({"xdg-open", "xterm", "x-terminal-emulator"}),
         {"/usr/bin/x-terminal-emulator -e vim -n"}},
        // The same editor twice is tried once; without a terminal it is not tried.
        {"/w/a.sym",
         Environment("vi", "vi"),
         Installed({"xterm"}),
         {"/usr/bin/xterm -e vi /w/a.sym"}},
        {"/w/a.sym", Environment("vi", ""), Installed({"kate"}), {"/usr/bin/kate /w/a.sym"}},
        {"/w/a.sym", Environment(" ", ""), Installed({"xterm"}), {}},
    };
    for (const Case& c : cases) {
        const QStringList got = Lines(EditorCandidates(c.file, c.environment, c.findProgram));
        EXPECT_EQ(got, c.expected) << got.join(" | ").toStdString();
    }
}

// Candidates are tried in order until one works; when none does, that is
// told once. A starter may answer later, and only its first answer counts.
TEST(ShellRules, AFailedCandidateFallsBackToTheNext) {
    struct Case {
        const char* name;
        std::vector<const char*> candidates;
        std::vector<const char*> working;
        std::vector<std::string> expectedTried;
        bool expectedNoneWorked;
    } cases[] = {
        {"first works", {"a", "b"}, {"a", "b"}, {"a"}, false},
        {"falls back", {"a", "b", "c"}, {"c"}, {"a", "b", "c"}, false},
        {"none works", {"a", "b"}, {}, {"a", "b"}, true},
        {"no candidate", {}, {}, {}, true},
    };
    for (const Case& c : cases) {
        for (bool later : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (later ? ", answered later" : ""));
            std::vector<EditorCommand> candidates;
            for (const char* program : c.candidates)
                candidates.push_back({QString::fromLatin1(program), {}});
            std::vector<std::string> tried;
            std::vector<std::function<void()>> pending;
            int noneWorked = 0;
            auto start = [&](const EditorCommand& command, std::function<void(bool)> finished) {
                tried.push_back(command.program.toStdString());
                bool works = false;
                for (const char* program : c.working)
                    works = works || command.program == QLatin1String(program);
                auto answer = [finished, works] {
                    finished(works);
                    finished(!works);  // a second answer is not heard
                };
                if (later) {
                    pending.push_back(answer);
                } else {
                    answer();
                }
            };
            StartFirstThatWorks(candidates, start, [&] { ++noneWorked; });
            while (!pending.empty()) {
                auto answer = pending.front();
                pending.erase(pending.begin());
                answer();
            }
            EXPECT_EQ(tried, c.expectedTried);
            EXPECT_EQ(noneWorked, c.expectedNoneWorked ? 1 : 0);
        }
    }
}

// The desktop's starter: a program that hands the file on fails by its exit
// status within the grace time; any other fails only when it cannot start.
TEST_F(ShellTest, TheStarterTellsWhetherACandidateWorked) {
    const QString sh = QStandardPaths::findExecutable("sh");
    const QString trueProgram = QStandardPaths::findExecutable("true");
    ASSERT_FALSE(sh.isEmpty());
    ASSERT_FALSE(trueProgram.isEmpty());
    struct Case {
        const char* name;
        EditorCommand command;
        bool expected;
    } cases[] = {
        {"no handler", {sh, {"-c", "exit 3"}, true}, false},
        {"handed on", {sh, {"-c", "exit 0"}, true}, true},
        {"killed", {sh, {"-c", "kill -9 $$"}, true}, false},
        {"still running after the grace time", {sh, {"-c", "sleep 1"}, true}, true},
        {"opener missing", {ToQt(dir.File("no-such-opener")), {}, true}, false},
        {"editor started", {trueProgram, {}}, true},
        {"editor missing", {ToQt(dir.File("no-such-editor")), {}}, false},
    };
    for (const Case& c : cases) {
        std::vector<bool> answers;
        StartEditorCommand(
            c.command, [&](bool worked) { answers.push_back(worked); }, 300);
        EXPECT_TRUE(WaitFor([&] { return !answers.empty(); }, 5000)) << c.name;
        QTest::qWait(400);  // past the grace time: no second answer
        EXPECT_EQ(answers, std::vector<bool>{c.expected}) << c.name;
    }
}

// When nothing can open the file, a message box says so.
TEST(ShellRules, TheLauncherTellsWhenNothingOpensTheFile) {
    struct Case {
        std::string file;
        std::vector<const char*> working;
        std::vector<std::string> expectedShown;
    } cases[] = {
        {"/w/Symbols.sym", {"/usr/bin/xterm"}, {}},
        {"/w/Symbols.sym",
         {},
         {"No program could be started to open /w/Symbols.sym.\nInstall a text editor, or name one "
          "in the environment variable VISUAL or EDITOR."}},
        {"",
         {},
         {"No text editor could be started.\nInstall a text editor, or name one in the environment "
          "variable VISUAL or EDITOR."}},
    };
    for (const Case& c : cases) {
        ScriptedMessages messages;
        std::vector<std::string> tried;
        QtProgramLauncher launcher(
            messages, Environment("vi", ""), Installed({"xdg-open", "xterm", "gedit"}),
            [&](const EditorCommand& command, std::function<void(bool)> done) {
                tried.push_back(command.program.toStdString());
                bool works = false;
                for (const char* program : c.working)
                    works = works || command.program == QLatin1String(program);
                done(works);
            });
        launcher.LaunchProgram(c.file);
        EXPECT_EQ(messages.Shown, c.expectedShown) << c.file;
        EXPECT_FALSE(tried.empty());
    }
}

// A message box carries the icon of what its text tells: a failure is an
// error, what stands in the way of the user's entry or choice a warning, an
// outcome information. The texts are those the program shows.
TEST(ShellRules, MessagesAreToldByKind) {
    using K = MessageKind;
    const std::string symbolFile = "/w/Symbols.sym";
    const struct Case {
        std::string text;
        MessageKind kind;
    } cases[] = {
        {PrintedToFileMessage("/w/Results.pdf"), K::Information},
        {ScanLockRefusal("/w", {"quillon-scan", 42}) + "\r\nOpen the scan again when it has ended.",
         K::Warning},
        {kLoginRefused, K::Warning},
        {symbolFile + " contains no symbols, process stopped.\r\n"
                      "Please use File menu - Choose Symbol File to select another file.",
         K::Warning},
        {NoEditorMessage("/w/Results.txt"), K::Warning},
        {NoEditorMessage(""), K::Warning},
        {"No Port Specified", K::Warning},
        {"No IP Address Specified", K::Warning},
        {SettingsNotSavedMessage("/w/Quillon.---", ENOSPC), K::Error},
        {SettingsNotSavedMessage("/w/Quillon.---", 0), K::Error},
        {OutputFailure{"/w/Results.txt", "No space left on device"}.Message() +
             "\r\nThe scan is paused before IBM. Make room, then press Go.",
         K::Error},
        {"Error reading " + symbolFile, K::Error},
        // Not the account's refusal: the host's.
        {"Error 10061 in function connect\r\nConnection refused", K::Error},
        {"Error 10060\r\nBlocking call timed out", K::Error},
        {"Cannot convert host address", K::Error},
        {"Quillon cannot start: cannot create /x: Permission denied", K::Error},
        {"The scan cannot start: Scan.lock: Read-only file system", K::Error},
        {"Cannot read /w/Results.txt: Permission denied", K::Error},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(static_cast<int>(KindOfMessage(c.text)), static_cast<int>(c.kind)) << c.text;
    }
}

// The boxes themselves: a message's icon by its kind, a question's the
// question mark.
TEST(ShellRules, MessageBoxesCarryTheIconOfTheirKind) {
    QtMessageService messages;
    const struct Case {
        std::string text;
        bool question;
        QMessageBox::Icon icon;
    } cases[] = {
        {"No printer is installed: printed to /w/Results.pdf", false, QMessageBox::Information},
        {"No Port Specified", false, QMessageBox::Warning},
        {"Cannot read /w/Results.txt: Permission denied", false, QMessageBox::Critical},
        {"Swap the contents of /w/a.sym\nwith the contents of /w/b.txt\nAre you sure ?", true,
         QMessageBox::Question},
    };
    for (const Case& c : cases) {
        std::optional<QMessageBox::Icon> seen;
        QString title;
        // Looks at the box once it is open, then closes it with its No or OK.
        std::function<void()> look = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                QTimer::singleShot(10, look);
                return;
            }
            seen = box->icon();
            title = box->windowTitle();
            box->done(c.question ? QMessageBox::No : QMessageBox::Ok);
        };
        QTimer::singleShot(0, look);
        if (c.question) {
            EXPECT_FALSE(messages.Confirm(c.text));
        } else {
            messages.ShowMessage(c.text);
        }
        ASSERT_TRUE(seen.has_value()) << c.text;
        EXPECT_EQ(*seen, c.icon) << c.text;
        EXPECT_EQ(title, c.question ? "Confirm" : QApplication::applicationName()) << c.text;
    }
}

// A settings file that cannot be written is told by the main window's
// commands that save the settings.
TEST_F(ShellTest, TheMainWindowTellsAFailedSave) {
    splash->Start();
    std::filesystem::remove(dir.File("Quillon.---"));
    std::filesystem::create_directory(dir.File("Quillon.---"));
    splash->Hooks.ChooseSymbolFile = [](QWidget*, const std::string&) {
        return std::optional<std::string>();
    };
    for (const char* item : {"GetQuotesFromLocalFileQuotestxt1", "GetQuotesFromQuoteServer1",
                             "ChooseSymbolFileName1"}) {
        messages.Shown.clear();
        Action(item)->trigger();
        ASSERT_EQ(messages.Shown.size(), 1u) << item;
        EXPECT_NE(messages.Shown[0].find(dir.File("Quillon.---")), std::string::npos)
            << messages.Shown[0];
        EXPECT_NE(messages.Shown[0].find("Is a directory"), std::string::npos) << messages.Shown[0];
        EXPECT_EQ(KindOfMessage(messages.Shown[0]), MessageKind::Error);
    }
}

// One scan per working directory, between the scan window and quillon-scan:
// the open window refuses quillon-scan, naming this program; a running
// quillon-scan keeps the window from opening, with a message that names it.
TEST_F(ShellTest, TheScanWindowAndQuillonScanShareNoDirectory) {
    LocalArchive(12);
    OpenScan();
    const std::string inUse = "The working directory " + dir.Path() + " is in use by ";
    const testing::ScanRun refused = RunScan(dir);
    EXPECT_EQ(refused.exitCode, 7);
    EXPECT_NE(refused.err.find(inUse + "quillon (process " + std::to_string(::getpid()) + ")"),
              std::string::npos)
        << refused.err;
    tracing->close();
    EXPECT_EQ(RunScan(dir).exitCode, 0) << "closing the window frees the directory";

    BackgroundScan holder(dir, {"--realtime"});
    ASSERT_TRUE(WaitUntil([&] {
        return dir.Read("Scan.lock") == "quillon-scan " + std::to_string(holder.Pid()) + "\n";
    }));
    messages.Shown.clear();
    Find<QPushButton>("PB_Start")->click();
    EXPECT_FALSE(tracing->isVisible());
    EXPECT_TRUE(splash->isVisible());
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0], inUse + "quillon-scan (process " + std::to_string(holder.Pid()) +
                                     "): one scan at a time works in a directory.\r\n"
                                     "Open the scan again when it has ended.");
    EXPECT_EQ(KindOfMessage(messages.Shown[0]), MessageKind::Warning);
    holder.Kill();
    OpenScan();
    EXPECT_TRUE(tracing->isVisible()) << "a killed holder frees the directory at once";
}

}  // namespace
}  // namespace quillon
