// The setup dialogs and the help window on the offscreen platform.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTest>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/services.h"
#include "tests/support/temp_dir.h"
#include "ui/filter_form.h"
#include "ui/help_window.h"
#include "ui/interest_form.h"
#include "ui/qt/qt_services.h"
#include "ui/server_form.h"

namespace quillon {
namespace {

// One QApplication for the whole test program (the printing tests use it too).
class QtApplication : public ::testing::Environment {
  public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "dialogs_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

  private:
    QApplication* app_ = nullptr;
};
const auto* const kApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

// A working directory with default settings that have not been saved yet.
class DialogTest : public ::testing::Test {
  protected:
    DialogTest() : files(WorkingFileNames::In(dir.Path())) {
        settings.SymbolFileName = files.DefaultSymbolFile;
    }

    bool SettingsSaved() const { return FileExists(files.SettingsFile); }
    // Line `number` (from 1) of the settings file.
    std::string SettingsLine(std::size_t number) const {
        const std::string text = ReadWholeFile(files.SettingsFile).value_or("");
        std::size_t start = 0;
        for (std::size_t n = 1; n < number && start != std::string::npos; ++n) {
            start = text.find("\r\n", start);
            if (start != std::string::npos) start += 2;
        }
        if (start == std::string::npos) return "<missing>";
        return text.substr(start, text.find("\r\n", start) - start);
    }

    template <typename T>
    static T* Child(QWidget& form, const char* name) {
        T* child = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    HelpCallback RecordHelp() {
        return [this](int context) { helpAsked.push_back(context); };
    }

    testing::TempDir dir;
    WorkingFileNames files;
    Settings settings;
    ScriptedMessages messages;
    std::vector<int> helpAsked;
};

// ---- interest rate ----------------------------------------------------------------------------

struct InterestCase {
    const char* entry;
    std::optional<float> rate;  // nothing: the rate stays and the file is not written
    const char* shownAfter;     // the entry as the dialog shows it the next time
};

void PrintTo(const InterestCase& c, std::ostream* out) {
    *out << '"' << c.entry << '"';
}

class InterestEntry : public DialogTest, public ::testing::WithParamInterface<InterestCase> {};

TEST_P(InterestEntry, ClosingTakesAValidRate) {
    const InterestCase& c = GetParam();
    settings.InterestRate = 0.07f;
    TInterestForm form(settings, files, messages);
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_Interest")->text(), "7");
    Child<QLineEdit>(form, "TX_Interest")->setText(QString::fromLatin1(c.entry));
    form.close();

    EXPECT_EQ(settings.InterestRate, c.rate.value_or(0.07f));
    EXPECT_EQ(SettingsSaved(), c.rate.has_value());
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_Interest")->text(), c.shownAfter);
    form.close();
}

INSTANTIATE_TEST_SUITE_P(
    Entries, InterestEntry,
    ::testing::Values(InterestCase{"5.25", 0.0525f, "5.25"}, InterestCase{"5", 0.05f, "5"},
                      InterestCase{"1.125", 0.01125f, "1.125"}, InterestCase{"2.1", 0.021f, "2.1"},
                      InterestCase{"0", 0.0f, "0"},
                      // Half a thousandth goes to the even one.
                      InterestCase{"0.0025", 0.00002f, "0.002"},
                      InterestCase{"-1", std::nullopt, "7"}, InterestCase{"abc", std::nullopt, "7"},
                      InterestCase{"", std::nullopt, "7"},
                      // Too large for the stored rate.
                      InterestCase{"9e99", std::nullopt, "7"}),
    // The entry's letters and digits name the case: "5_25", "minus1", "empty".
    [](const auto& test) {
        std::string name;
        for (const char* c = test.param.entry; *c != '\0'; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? std::string(1, *c)
                    : *c == '-'                                  ? std::string("minus")
                                                                 : std::string("_");
        return "entry_" + (name.empty() ? std::string("empty") : name);
    });

TEST_F(DialogTest, InterestEditTakesFiveCharacters) {
    TInterestForm form(settings, files, messages);
    form.show();
    QLineEdit* edit = Child<QLineEdit>(form, "TX_Interest");
    edit->clear();
    QTest::keyClicks(edit, "123456");
    EXPECT_EQ(edit->text(), "12345");
}

// A stored rate longer than five characters is shown whole, not cut: closing
// the dialog then only rounds it to a thousandth of a percent.
TEST_F(DialogTest, InterestRateWithMoreDigitsIsShownWhole) {
    settings.InterestRate = 0.045678f;  // 4.5678 %, from the settings file
    TInterestForm form(settings, files, messages);
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_Interest")->text(), "4.5678");
    form.close();
    EXPECT_NEAR(settings.InterestRate, 0.04568, 1e-8);
}

// Five characters can be typed, also when a longer stored rate is shown:
// typing may shorten the shown rate but not lengthen or replace within it.
TEST_F(DialogTest, TypingIntoALongerStoredRateStaysWithinFiveCharacters) {
    struct Case {
        const char* keys;
        std::function<void(QLineEdit*)> type;
        const char* expected;
    };
    const Case cases[] = {
        {"append", [](QLineEdit* e) { QTest::keyClicks(e, "9"); }, "4.5678"},
        {"replace last",
         [](QLineEdit* e) {
             QTest::keyClick(e, Qt::Key_Left, Qt::ShiftModifier);
             QTest::keyClicks(e, "9");
         },
         "4.5678"},
        {"backspace, then two more",
         [](QLineEdit* e) {
             QTest::keyClick(e, Qt::Key_Backspace);
             QTest::keyClicks(e, "12");
         },
         "4.567"},
        {"delete two, then three more",
         [](QLineEdit* e) {
             QTest::keyClick(e, Qt::Key_Backspace);
             QTest::keyClick(e, Qt::Key_Backspace);
             QTest::keyClicks(e, "123");
         },
         "4.561"},
        {"all replaced",
         [](QLineEdit* e) {
             e->selectAll();
             QTest::keyClicks(e, "123456");
         },
         "12345"},
    };
    TInterestForm form(settings, files, messages);
    for (const Case& c : cases) {
        settings.InterestRate = 0.045678f;
        form.show();
        QLineEdit* edit = Child<QLineEdit>(form, "TX_Interest");
        ASSERT_EQ(edit->text(), "4.5678");
        edit->end(false);
        c.type(edit);
        EXPECT_EQ(edit->text(), c.expected) << c.keys;
        form.close();
    }
}

// ---- quote server -----------------------------------------------------------------------------

TEST_F(DialogTest, ServerUseDefaultThenClose) {
    settings.UserName = "alice";
    settings.Password = "secret";
    settings.QuoteServer = 1;
    dir.Write("QuoteHosts.txt", "quotes.example:8080\n");
    TServerForm form(settings, files, messages);
    form.show();
    QComboBox* server = Child<QComboBox>(form, "CB_QuoteServer");
    EXPECT_EQ(Child<QLineEdit>(form, "ED_UserName")->text(), "alice");
    EXPECT_EQ(server->currentIndex(), 1);
    EXPECT_TRUE(server->itemText(0).contains("quotes.example:8080"));
    EXPECT_TRUE(server->itemText(1).contains("127.0.0.2:80"));

    QTest::mouseClick(Child<QPushButton>(form, "Button1"), Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form, "ED_UserName")->text(), "guest");
    EXPECT_EQ(Child<QLineEdit>(form, "ED_Password")->text(), "lantern4");
    EXPECT_FALSE(SettingsSaved()) << "Use Default saves only when the dialog closes";
    form.close();

    EXPECT_EQ(SettingsLine(1), "lZ3Vlc3Q6bGFudGVybjQ=");  // "l" + Base64 of "guest:lantern4"
    EXPECT_EQ(SettingsLine(2), "0");
}

TEST_F(DialogTest, ServerClosingStoresTheEditsAsTyped) {
    settings.QuoteServer = 7;  // no item of the list
    TServerForm form(settings, files, messages);
    form.show();
    EXPECT_EQ(Child<QComboBox>(form, "CB_QuoteServer")->currentIndex(), -1);
    Child<QLineEdit>(form, "ED_UserName")->setText(" bob ");
    Child<QLineEdit>(form, "ED_Password")->setText("");
    form.close();

    EXPECT_EQ(settings.UserName, " bob ");
    EXPECT_EQ(settings.Password, "");
    EXPECT_EQ(settings.QuoteServer, 7);
    EXPECT_TRUE(SettingsSaved());
}

// The settings keep user name and password as Latin-1 text: a character
// beyond it is refused with a message and the dialog stays open, nothing
// taken; once changed, closing takes the texts as typed.
TEST_F(DialogTest, ServerRefusesCharactersItCannotStore) {
    struct Case {
        const char* user;
        const char* password;
        const char* refused;  // the edit refused, or null
        const char* editName;
    };
    const Case cases[] = {
        {"alice", "pässwörd€", "password", "ED_Password"},
        {"bob€", "pässwörd", "user name", "ED_UserName"},
        {"carol", "pw\U0001F600", "password", "ED_Password"},
        {"jörg", "pässwörd", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        settings.UserName = "old";
        settings.Password = "older";
        messages.Shown.clear();
        std::filesystem::remove(files.SettingsFile);
        TServerForm form(settings, files, messages);
        form.show();
        Child<QLineEdit>(form, "ED_UserName")->setText(QString::fromUtf8(c.user));
        Child<QLineEdit>(form, "ED_Password")->setText(QString::fromUtf8(c.password));
        form.close();
        if (c.refused == nullptr) {
            EXPECT_FALSE(form.isVisible());
            EXPECT_TRUE(messages.Shown.empty());
            EXPECT_EQ(settings.UserName, "j\xF6rg");
            EXPECT_EQ(settings.Password, "p\xE4ssw\xF6rd");
            EXPECT_TRUE(SettingsSaved());
            continue;
        }
        EXPECT_TRUE(form.isVisible());
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_NE(messages.Shown[0].find(std::string("The ") + c.refused), std::string::npos)
            << messages.Shown[0];
        EXPECT_EQ(KindOfMessage(messages.Shown[0]), MessageKind::Warning) << "the user's entry";
        EXPECT_EQ(form.focusWidget(), Child<QLineEdit>(form, c.editName));
        EXPECT_EQ(settings.UserName, "old");
        EXPECT_EQ(settings.Password, "older");
        EXPECT_FALSE(SettingsSaved());

        Child<QLineEdit>(form, c.editName)->setText("plain");
        form.close();
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(SettingsSaved());
        EXPECT_EQ(messages.Shown.size(), 1u);
    }
}

// ---- filters ----------------------------------------------------------------------------------

TEST_F(DialogTest, FilterLowPETemplateThenClose) {
    SetDefaultFilters(settings.Filters);
    settings.Filters.DeriveZorFrom = 0;
    TFilterForm form(settings, files, messages);
    form.show();
    QComboBox* templates = Child<QComboBox>(form, "ComboBox1");
    EXPECT_EQ(templates->currentIndex(), -1);
    EXPECT_EQ(templates->placeholderText(), "Select a Template");
    EXPECT_EQ(form.focusWidget(), Child<QGroupBox>(form, "GroupBox1"));

    templates->setCurrentIndex(3);  // "For Low P/E Stocks"
    QTest::mouseClick(Child<QPushButton>(form, "CM_FilterUseDefault"), Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MaxPE")->text(), "7");
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MinOptInt")->text(), "NA");
    form.close();

    std::vector<std::string> inUse;
    for (std::size_t i = 0; i < kFilterCount; ++i)
        if (settings.Filters.Values[i].InUse()) inUse.push_back(kFilterNames[i]);
    EXPECT_EQ(inUse, (std::vector<std::string>{"TX_MinPE", "TX_MaxPE"}));
    EXPECT_EQ(settings.Filters.Values[TX_MinPE], FilterValue::Number(0));
    EXPECT_EQ(settings.Filters.Values[TX_MaxPE], FilterValue::Number(7));
    EXPECT_EQ(settings.Filters.DeriveZorFrom, 1);
    EXPECT_EQ(SettingsLine(4), "0");
    EXPECT_EQ(SettingsLine(5), "7");
    for (std::size_t line = 6; line <= 23; ++line)
        EXPECT_EQ(SettingsLine(line), "NA") << line;
    EXPECT_EQ(SettingsLine(24), "1");
}

TEST_F(DialogTest, FilterUseTemplateWithNoneChosenOnlyRefills) {
    settings.Filters.Values[TX_MinLast] = FilterValue::Text("12.5");
    const FilterSettings before = settings.Filters;
    TFilterForm form(settings, files, messages);
    form.show();
    QLineEdit* minLast = Child<QLineEdit>(form, "TX_MinLast");
    minLast->setText("99");
    QTest::mouseClick(Child<QPushButton>(form, "CM_FilterUseDefault"), Qt::LeftButton);
    EXPECT_EQ(settings.Filters.Values, before.Values);
    EXPECT_EQ(settings.Filters.DeriveZorFrom, before.DeriveZorFrom);
    EXPECT_EQ(minLast->text(), "12.5");
    EXPECT_FALSE(SettingsSaved());
}

// The figures the chosen source lacks are named when the dialog is shown,
// without squeezing the rest; the quote server lacks none.
TEST_F(DialogTest, FilterNamesTheFiguresTheSourceLacks) {
    TFilterForm form(settings, files, messages);
    const struct Case {
        QuoteSource source;
        const char* start;  // of the note; none: hidden
    } cases[] = {{QuoteSource::Exchange, "The exchange's delayed quotes give no P/"},
                 {QuoteSource::Tradier, "Tradier gives no P/"},
                 {QuoteSource::Server, nullptr}};
    for (const Case& c : cases) {
        settings.SetSource(c.source);
        form.show();
        QLabel* note = Child<QLabel>(form, "SourceNote");
        EXPECT_EQ(note->isVisible(), c.start != nullptr);
        if (c.start != nullptr) EXPECT_TRUE(note->text().startsWith(c.start)) << c.start;
        EXPECT_GE(Child<QLineEdit>(form, "TX_MinCallPutRatio")->height(), 18);
        form.hide();
    }
}

TEST_F(DialogTest, FilterCloseStoresNumbersOrNA) {
    TFilterForm form(settings, files, messages);
    form.show();
    const std::pair<const char*, FilterValue> entries[] = {
        {"TX_MinPE", FilterValue::Number(1.5)},    {"TX_MaxPE", FilterValue::Text("NA")},
        {"TX_MinLast", FilterValue::Number(1000)}, {"TX_MaxLast", FilterValue::Text("NA")},
        {"TX_MinYield", FilterValue::Text("NA")},
    };
    const char* typed[] = {"1.50", "n/a", "1e3", "", " abc"};
    for (std::size_t i = 0; i < std::size(typed); ++i)
        Child<QLineEdit>(form, entries[i].first)->setText(typed[i]);
    form.findChildren<QRadioButton*>().value(0)->click();  // "Last price"
    form.close();

    EXPECT_EQ(settings.Filters.DeriveZorFrom, 0);

    for (const auto& [name, value] : entries) {
        std::size_t index = 0;
        while (kFilterNames[index] != std::string(name))
            ++index;
        EXPECT_EQ(settings.Filters.Values[index], value) << name;
    }
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MinPE")->text(), "1.5");
}

// The IV filters: stored as numbers or "NA" on close, with the window chosen
// and the figures switch, in the lines after the 26; a template leaves the
// four filters unused and keeps the window and the switch.
TEST_F(DialogTest, FilterIvRankAndPercentile) {
    TFilterForm form(settings, files, messages);
    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MinIvRank")->text(), "NA");
    Child<QLineEdit>(form, "TX_MinIvRank")->setText("30");
    Child<QLineEdit>(form, "TX_MaxIvRank")->setText("abc");
    Child<QLineEdit>(form, "TX_MinIvPercentile")->setText("12");
    Child<QLineEdit>(form, "TX_MaxIvPercentile")->setText("87.50");
    Child<QComboBox>(form, "CB_IvWindow")->setCurrentIndex(1);
    Child<QCheckBox>(form, "CK_HistoryFigures")->setChecked(true);
    form.close();
    EXPECT_EQ(settings.History.MinIvRank, FilterValue::Number(30));
    EXPECT_EQ(settings.History.MaxIvRank, FilterValue::Text("NA"));
    EXPECT_EQ(settings.History.MaxIvPercentile, FilterValue::Number(87.5));
    EXPECT_EQ(settings.History.WindowWeeks, 26);
    EXPECT_TRUE(settings.History.ShowFigures);
    const char* const lines[] = {"30", "NA", "12", "87.5", "26", "1"};
    for (std::size_t i = 0; i < std::size(lines); ++i)
        EXPECT_EQ(SettingsLine(27 + i), lines[i]) << 27 + i;

    form.show();
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MaxIvPercentile")->text(), "87.5");
    EXPECT_EQ(Child<QComboBox>(form, "CB_IvWindow")->currentText(), "26 wk");
    Child<QComboBox>(form, "ComboBox1")->setCurrentIndex(0);  // "Default Setting"
    QTest::mouseClick(Child<QPushButton>(form, "CM_FilterUseDefault"), Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form, "TX_MinIvRank")->text(), "NA");
    form.close();
    EXPECT_FALSE(settings.History.FiltersInUse());
    EXPECT_EQ(settings.History.WindowWeeks, 26);
    EXPECT_TRUE(settings.History.ShowFigures);
}

// ---- names, captions, help --------------------------------------------------------------------

TEST_F(DialogTest, CaptionsSizesAndControlNames) {
    TServerForm server(settings, files, messages);
    TInterestForm interest(settings, files, messages);
    TFilterForm filter(settings, files, messages);
    struct Form {
        QWidget* form;
        const char* caption;
        QSize size;
        std::vector<const char*> names;
    };
    std::vector<const char*> filterNames = {"GroupBox1", "GroupBox2", "RG_DrvZORfrom",
                                            "CM_FilterUseDefault", "ComboBox1"};
    filterNames.insert(filterNames.end(), kFilterNames.begin(), kFilterNames.end());
    const Form forms[] = {
        {&server,
         "Setup - Quote Server",
         {312, 303},
         {"Label3", "CB_QuoteServer", "Label1", "ED_UserName", "Label2", "ED_Password", "Button1",
          "Memo1"}},
        {&interest,
         "Setup - Risk Free Interest Rate",
         {303, 48},
         {"Label2", "TX_Interest", "Label1"}},
        {&filter, "Setup - Filter", {512, 343}, filterNames},
    };
    for (const Form& f : forms) {
        EXPECT_EQ(f.form->windowTitle(), f.caption);
        if (f.form == &filter) {
            // The filter dialog grows past its classic size where the fonts
            // need it, never below.
            EXPECT_GE(f.form->width(), f.size.width());
            EXPECT_GE(f.form->height(), f.size.height());
        } else {
            EXPECT_EQ(f.form->size(), f.size) << f.caption;
        }
        for (const char* name : f.names)
            EXPECT_NE(f.form->findChild<QWidget*>(name), nullptr) << f.caption << ": " << name;
    }
    // Every text of the filter dialog is shown whole.
    filter.show();
    for (const QLabel* label : filter.findChildren<QLabel*>()) {
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        EXPECT_GE(label->height(), label->minimumSizeHint().height())
            << label->text().toStdString();
    }
}

TEST_F(DialogTest, HelpAsksForTheControlsContext) {
    TFilterForm filter(settings, files, messages, RecordHelp());
    TInterestForm interest(settings, files, messages, RecordHelp());
    filter.show();
    interest.show();
    const std::pair<QWidget*, int> cases[] = {
        {Child<QWidget>(filter, "TX_MinRange"), 257},
        {Child<QWidget>(filter, "TX_MaxBeta"), 269},
        {Child<QWidget>(filter, "TX_MinPutCallRatio"), 270},
        // The IV rows, the window and the switch: the history topic.
        {Child<QWidget>(filter, "TX_MaxIvRank"), 271},
        {Child<QWidget>(filter, "TX_MinIvPercentile"), 271},
        {Child<QWidget>(filter, "CB_IvWindow"), 271},
        {Child<QWidget>(filter, "CK_HistoryFigures"), 271},
        {Child<QWidget>(filter, "ComboBox1"), 215},
        {filter.findChildren<QRadioButton*>().value(0), 213},
        {Child<QWidget>(interest, "TX_Interest"), 207},
        // The AND group has the focus when the dialog opens: the filter
        // overview, not the contents.
        {Child<QWidget>(filter, "GroupBox1"), 254},
        {Child<QWidget>(filter, "GroupBox2"), 254},
    };
    for (const auto& [control, context] : cases) {
        ASSERT_NE(control, nullptr);
        control->setFocus();
        helpAsked.clear();
        QTest::keyClick(control, Qt::Key_F1);
        EXPECT_EQ(helpAsked, std::vector<int>{context}) << control->objectName().toStdString();
    }
    // No control has the focus: the dialog's own topic.
    for (const auto& [form, context] : {std::pair<QWidget*, int>{&filter, 254}, {&interest, 1}}) {
        if (QWidget* focus = form->focusWidget()) focus->clearFocus();
        ASSERT_EQ(form->focusWidget(), nullptr);
        helpAsked.clear();
        QTest::keyClick(form, Qt::Key_F1);
        EXPECT_EQ(helpAsked, std::vector<int>{context}) << form->objectName().toStdString();
    }
    // The title bar's "?" and then a click on a control.
    QWidget* range = Child<QWidget>(filter, "TX_MinRange");
    QHelpEvent whatsThis(QEvent::WhatsThis, QPoint(2, 2), range->mapToGlobal(QPoint(2, 2)));
    helpAsked.clear();
    QApplication::sendEvent(range, &whatsThis);
    EXPECT_EQ(helpAsked, std::vector<int>{257});
    // ... and a click on no control, the dialog's own face.
    const QPoint bare(filter.width() - 2, filter.height() - 2);
    ASSERT_EQ(filter.childAt(bare), nullptr);
    QHelpEvent onTheForm(QEvent::WhatsThis, bare, filter.mapToGlobal(bare));
    helpAsked.clear();
    QApplication::sendEvent(&filter, &onTheForm);
    EXPECT_EQ(helpAsked, std::vector<int>{254});
}

// A settings file that cannot be written is told, naming the file and the
// cause, by every dialog that saves.
TEST_F(DialogTest, AFailedSaveIsTold) {
    std::filesystem::create_directory(files.SettingsFile);  // the rename onto it fails
    const std::function<std::unique_ptr<QDialog>()> dialogs[] = {
        [&] { return std::make_unique<TServerForm>(settings, files, messages); },
        [&] { return std::make_unique<TInterestForm>(settings, files, messages); },
        [&] { return std::make_unique<TFilterForm>(settings, files, messages); },
    };
    for (const auto& make : dialogs) {
        messages.Shown.clear();
        std::unique_ptr<QDialog> dialog = make();
        SCOPED_TRACE(dialog->objectName().toStdString());
        dialog->show();
        dialog->close();
        EXPECT_FALSE(dialog->isVisible());
        ASSERT_EQ(messages.Shown.size(), 1u);
        const std::string& shown = messages.Shown[0];
        EXPECT_NE(shown.find(files.SettingsFile), std::string::npos) << shown;
        EXPECT_NE(shown.find("Is a directory"), std::string::npos) << shown;
        EXPECT_EQ(KindOfMessage(shown), MessageKind::Error);
    }
}

// Every opening is centred on the screen, not on the main window, and not
// where the dialog was last.
TEST_F(DialogTest, DialogsOpenCentredOnTheScreen) {
    QWidget mainWindow;
    mainWindow.setGeometry(0, 0, 200, 100);
    mainWindow.show();
    const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
    const std::function<std::unique_ptr<QDialog>()> dialogs[] = {
        [&] {
            return std::make_unique<TServerForm>(settings, files, messages, nullptr, &mainWindow);
        },
        [&] {
            return std::make_unique<TInterestForm>(settings, files, messages, nullptr, &mainWindow);
        },
        [&] {
            return std::make_unique<TFilterForm>(settings, files, messages, nullptr, &mainWindow);
        },
    };
    for (const auto& make : dialogs) {
        std::unique_ptr<QDialog> dialog = make();
        SCOPED_TRACE(dialog->objectName().toStdString());
        for (int opening = 0; opening < 3; ++opening) {
            dialog->show();
            const QPoint offset = dialog->frameGeometry().center() - centre;
            EXPECT_LE(offset.manhattanLength(), 2)
                << opening << ": " << offset.x() << ", " << offset.y();
            dialog->move(7, 7 + 20 * opening);
            dialog->close();
        }
    }
}

// The "?" button opens the help of the control with the focus, as F1 does,
// and leaves the focus where it was.
TEST_F(DialogTest, TheHelpButtonAsksForTheFocusedControlsContext) {
    TFilterForm filter(settings, files, messages, RecordHelp());
    TInterestForm interest(settings, files, messages, RecordHelp());
    filter.show();
    interest.show();
    const std::pair<QWidget*, int> cases[] = {
        {Child<QWidget>(filter, "TX_MaxYield"), 256},
        {Child<QWidget>(filter, "ComboBox1"), 215},
        {Child<QWidget>(filter, "GroupBox1"), 254},
        {Child<QWidget>(interest, "TX_Interest"), 207},
    };
    for (const auto& [control, context] : cases) {
        ASSERT_NE(control, nullptr);
        control->setFocus();
        auto* button = Child<QAbstractButton>(*control->window(), "HelpButton");
        ASSERT_NE(button, nullptr);
        EXPECT_TRUE(button->isVisible());
        EXPECT_EQ(button->text(), "?");
        EXPECT_TRUE(control->window()->rect().contains(button->geometry()));
        helpAsked.clear();
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(helpAsked, std::vector<int>{context}) << control->objectName().toStdString();
        EXPECT_EQ(control->window()->focusWidget(), control);
    }
}

// F1 anywhere in the server dialog opens the quote-server topic.
TEST_F(DialogTest, ServerHelpIsTheQuoteServerTopic) {
    TServerForm server(settings, files, messages, RecordHelp());
    server.show();
    for (const char* name : {"CB_QuoteServer", "ED_Password", "Button1"}) {
        QWidget* control = Child<QWidget>(server, name);
        control->setFocus();
        helpAsked.clear();
        QTest::keyClick(control, Qt::Key_F1);
        EXPECT_EQ(helpAsked, std::vector<int>{kServerHelpContext}) << name;
    }
    EXPECT_EQ(HelpTopic(kServerHelpContext).fileName(), "quote_server.html");
}

TEST_F(DialogTest, EveryHelpContextOpensABundledTopic) {
    HelpWindow window;
    std::vector<int> contexts = {1, 102, 206, 207, 213, 215, 271, 301, 302, 303};
    for (int context = 250; context <= 270; ++context)
        contexts.push_back(context);
    for (int context : contexts) {
        window.OpenContext(context);
        const QUrl topic = window.CurrentTopic();
        EXPECT_TRUE(topic.isLocalFile()) << context;
        EXPECT_EQ(QFileInfo(topic.toLocalFile()).absolutePath(), HelpDirectory()) << context;
        EXPECT_TRUE(QFile::exists(topic.toLocalFile())) << context;
        if (context != kHelpContents) {
            EXPECT_NE(topic.fileName(), "contents.html") << context;
        }
    }
    window.OpenContext(257);
    EXPECT_EQ(window.CurrentTopic().fileName(), "filter_range.html");
    window.OpenContext(271);
    EXPECT_EQ(window.CurrentTopic().fileName(), "history.html");
    EXPECT_EQ(window.windowTitle(), "Quillon Help - History, IV Rank and Changes");
    // The contents topic's own title is the window's: said once.
    window.OpenContext(kHelpContents);
    EXPECT_EQ(window.windowTitle(), "Quillon Help");

    ShowHelp(nullptr, 102);
    ASSERT_NE(ProgramHelpWindow(), nullptr);
    EXPECT_TRUE(ProgramHelpWindow()->isVisible());
    EXPECT_EQ(ProgramHelpWindow()->CurrentTopic().fileName(), "contact.html");
}

// The filter dialog's "?" as the user meets it: just opened, or with no
// control focused, it opens the filter topic in the program's help window.
TEST_F(DialogTest, TheFilterDialogsHelpButtonOpensTheFilterTopic) {
    TFilterForm filter(settings, files, messages);
    filter.show();
    auto* button = Child<QAbstractButton>(filter, "HelpButton");
    ASSERT_NE(button, nullptr);
    for (bool focusCleared : {false, true}) {
        if (focusCleared && filter.focusWidget() != nullptr) filter.focusWidget()->clearFocus();
        ShowHelp(nullptr, 102);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_NE(ProgramHelpWindow(), nullptr);
        EXPECT_EQ(ProgramHelpWindow()->CurrentTopic().fileName(), "filters.html") << focusCleared;
    }
    ProgramHelpWindow()->close();
}

// The topics as the help window browses them: every link names a bundled
// topic, and every topic can be reached from the contents by following
// links, so a topic added without a way to it, or a link mistyped, is found.
TEST(HelpTopics, EveryLinkOpensATopicAndEveryTopicIsReachableFromTheContents) {
    const QDir directory(HelpDirectory());
    const QStringList topics = directory.entryList({QStringLiteral("*.html")}, QDir::Files);
    ASSERT_TRUE(topics.contains(QStringLiteral("contents.html")));
    ASSERT_TRUE(topics.contains(QStringLiteral("history.html")));
    const QRegularExpression link(QStringLiteral("href=\"([^\"]*)\""));
    std::map<QString, QStringList> links;
    for (const QString& topic : topics) {
        QFile file(directory.filePath(topic));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << topic.toStdString();
        const QString text = QString::fromUtf8(file.readAll());
        for (const QRegularExpressionMatch& match : link.globalMatch(text)) {
            const QString target = match.captured(1);
            EXPECT_TRUE(topics.contains(target))
                << topic.toStdString() << " links to " << target.toStdString();
            links[topic].append(target);
        }
    }
    QStringList reached = {QStringLiteral("contents.html")};
    for (qsizetype next = 0; next < reached.size(); ++next) {
        for (const QString& target : links[reached[next]])
            if (!reached.contains(target)) reached.append(target);
    }
    for (const QString& topic : topics)
        EXPECT_TRUE(reached.contains(topic)) << topic.toStdString() << " has no way to it";
    // The history topic is reached from the topics that name its files and filters.
    for (const char* from : {"contents.html", "filters.html", "files.html"})
        EXPECT_TRUE(links[QString::fromLatin1(from)].contains(QStringLiteral("history.html")))
            << from;
}

}  // namespace
}  // namespace quillon
