#include "ui/filter_form.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "results/settings_save.h"
#include "results/source_figures.h"
#include "ui/backtest_form.h"
#include "ui/dialog_flags.h"
#include "ui/dialog_frame.h"
#include "ui/qt/latin1.h"

namespace quillon {

namespace {

constexpr int kClientWidth = 512;
constexpr int kClientHeight = 343;
constexpr int kEditWidth = 48;

constexpr const char* kNoTemplate = "Select a Template";
// The IV filters' window choices, in weeks, in the order of their list.
constexpr int kWindowWeeks[] = {13, 26, 52};

// A stock row of the AND group: its label, the "%" after it, its two edits and
// its help context. The range row's label is a fraction of two lines.
struct StockRow {
    const char* label;
    bool percent;
    FilterIndex max;
    FilterIndex min;
    int help;
};

constexpr StockRow kStockRows[] = {
    {"Price/Earning Ratio", false, TX_MaxPE, TX_MinPE, 250},
    {"Market Cap (Million)", false, TX_MaxMktCap, TX_MinMktCap, 251},
    {"Volume (x1000)", false, TX_MaxVolume, TX_MinVolume, 252},
    {"Last Price", false, TX_MaxLast, TX_MinLast, 253},
    {"Historical Volatility", true, TX_MaxBeta, TX_MinBeta, 269},
    {"Change", true, TX_MaxPctChange, TX_MinPctChange, 255},
    {"Dividend Yield", true, TX_MaxYield, TX_MinYield, 256},
    {nullptr, true, TX_MaxRange, TX_MinRange, 257},
};

// A row with one minimum: the option rows of the AND group and the ratio rows
// of the OR group.
struct MinimumRow {
    const char* label;
    FilterIndex min;
    int help;
};

constexpr MinimumRow kOptionRows[] = {
    {"Total Volume of Puts (Calls)", TX_MinOptVol, 260},
    {"Total Open Interest of Puts (Calls)", TX_MinOptInt, 261},
};

constexpr MinimumRow kRatioRows[] = {
    {"Call / Put ZOR Ratio", TX_MinCallPutRatio, 270},
    {"Put / Call ZOR Ratio", TX_MinPutCallRatio, 270},
};

constexpr const char* kNoteLines =
    "1. Smbols that pass all filters in the AND\n"
    "any filter in the OR Group, will appear\n"
    "in the results.\n"
    "2. To disregard any filter, simply enter a\n"
    "non-numeric value, such as \"NA\", or\n"
    "leave it blank.";

QLabel* Label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromLatin1(text), parent);
}

QLabel* BoldLabel(const char* text, QWidget* parent) {
    QLabel* label = Label(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// "Last - 52wkLo" over "52wkHi - 52wkLo": the blanks around the upper line
// make its underline as wide as the lower line, a fraction bar.
QWidget* RangeLabel(QWidget* parent) {
    auto* box = new QWidget(parent);
    QLabel* upper = Label("   Last - 52wkLo   ", box);
    QFont underlined = upper->font();
    underlined.setUnderline(true);
    upper->setFont(underlined);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(upper, 0, Qt::AlignHCenter);
    layout->addWidget(Label("52wkHi - 52wkLo", box), 0, Qt::AlignHCenter);
    return box;
}

void TightGrid(QGridLayout* grid) {
    grid->setContentsMargins(8, 4, 8, 6);
    grid->setVerticalSpacing(2);
    grid->setHorizontalSpacing(6);
}

}  // namespace

TFilterForm::TFilterForm(Settings& settings, const WorkingFileNames& files,
                         MessageService& messages, HelpCallback help, QWidget* parent)
    : QDialog(parent, kSetupDialogWithHelpFlags),
      settings_(settings),
      files_(files),
      messages_(messages) {
    setObjectName(QStringLiteral("FilterForm"));
    setWindowTitle(QStringLiteral("Setup - Filter"));
    // The classic dialog face, 8 points; fontconfig substitutes a sans-serif face.
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    const HelpCallback formHelp = HelpOrDefault(std::move(help), this);
    new FormHelp(this, formHelp);
    SetHelpContext(this, kFiltersHelpContext);

    GroupBox1 = BuildAndGroup();
    GroupBox2 = BuildOrGroup();
    RG_DrvZORfrom = BuildDeriveZorGroup();

    CM_FilterUseDefault = new QPushButton(QStringLiteral("Use Template"), this);
    CM_FilterUseDefault->setObjectName(QStringLiteral("CM_FilterUseDefault"));
    CM_FilterUseDefault->setAutoDefault(false);
    SetHelpContext(CM_FilterUseDefault, kTemplatesHelpContext);
    connect(CM_FilterUseDefault, &QPushButton::clicked, this,
            &TFilterForm::CM_FilterUseDefaultClick);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (const char* name : kFilterTemplateNames)
        ComboBox1->addItem(QString::fromLatin1(name));
    ComboBox1->setPlaceholderText(QString::fromLatin1(kNoTemplate));
    SetHelpContext(ComboBox1, kTemplatesHelpContext);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    right->addWidget(GroupBox2);
    right->addWidget(BuildNote());
    // A market-data service gives fewer figures than the quote server: the
    // filters on the others would fail every stock, and a scan with them is
    // refused, so the dialog says which they are (set when it is shown).
    SourceNote = Label("", this);
    SourceNote->setObjectName(QStringLiteral("SourceNote"));
    SourceNote->setWordWrap(true);
    SourceNote->setVisible(false);
    right->addWidget(SourceNote);
    right->addStretch();
    right->addWidget(BuildHistoryRow());
    right->addWidget(RG_DrvZORfrom);
    PB_Backtest = new QPushButton(QStringLiteral("Back-test..."), this);
    PB_Backtest->setObjectName(QStringLiteral("PB_Backtest"));
    PB_Backtest->setAutoDefault(false);
    PB_Backtest->setToolTip(
        QStringLiteral("Judge these filters on every day History.db holds and see what the "
                       "saved stocks did next"));
    SetHelpContext(PB_Backtest, kHistoryHelpContext);
    connect(PB_Backtest, &QPushButton::clicked, this, &TFilterForm::PB_BacktestClick);

    auto* templateRow = new QHBoxLayout;
    templateRow->addWidget(CM_FilterUseDefault, 1);
    templateRow->addWidget(PB_Backtest, 1);
    templateRow->addWidget(MakeHelpButton(this, formHelp));
    right->addLayout(templateRow);
    right->addWidget(ComboBox1);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 8);
    layout->setSpacing(8);
    layout->addWidget(GroupBox1);
    layout->addLayout(right);
    // The classic size, grown where the fonts at hand need more room, so
    // that no label is cut short ("Price/Earning Rati").
    setFixedSize(QSize(kClientWidth, kClientHeight).expandedTo(layout->minimumSize()));
    SetTabOrder();
}

QLineEdit* TFilterForm::MakeHistoryEdit(const HistoryFilter& filter, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QStringLiteral("TX_") + QString::fromLatin1(filter.Name));
    edit->setFixedWidth(kEditWidth);
    SetHelpContext(edit, kHistoryHelpContext);
    return edit;
}

// The IV filters' window and the history figures switch, on one line.
QWidget* TFilterForm::BuildHistoryRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(Label("IV window", row));
    CB_IvWindow = new QComboBox(row);
    CB_IvWindow->setObjectName(QStringLiteral("CB_IvWindow"));
    for (int weeks : kWindowWeeks)
        CB_IvWindow->addItem(QStringLiteral("%1 wk").arg(weeks));
    SetHelpContext(CB_IvWindow, kHistoryHelpContext);
    layout->addWidget(CB_IvWindow);
    CK_HistoryFigures = new QCheckBox(QStringLiteral("History figures"), row);
    CK_HistoryFigures->setObjectName(QStringLiteral("CK_HistoryFigures"));
    SetHelpContext(CK_HistoryFigures, kHistoryHelpContext);
    layout->addWidget(CK_HistoryFigures);
    layout->addStretch();
    return row;
}

QLineEdit* TFilterForm::MakeEdit(FilterIndex index, int helpContext, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(kFilterNames[index]));
    edit->setFixedWidth(kEditWidth);
    SetHelpContext(edit, helpContext);
    edits_[index] = edit;
    return edit;
}

// Columns: label, "%", the max edit, the min edit.
QGroupBox* TFilterForm::BuildAndGroup() {
    auto* group = new QGroupBox(QStringLiteral("AND Group Filters"), this);
    group->setObjectName(QStringLiteral("GroupBox1"));
    // The group takes the focus when the dialog opens, so that no edit starts
    // selected; Tab does not stop on it.
    group->setFocusPolicy(Qt::ClickFocus);
    auto* grid = new QGridLayout(group);
    TightGrid(grid);
    int row = 0;
    grid->addWidget(BoldLabel("Stocks", group), row, 0);
    grid->addWidget(Label("max", group), row, 2, Qt::AlignHCenter);
    grid->addWidget(Label("min", group), row, 3, Qt::AlignHCenter);
    for (const StockRow& stock : kStockRows) {
        ++row;
        if (stock.label != nullptr) {
            grid->addWidget(Label(stock.label, group), row, 0);
        } else {
            grid->addWidget(RangeLabel(group), row, 0);
        }
        if (stock.percent) grid->addWidget(Label("%", group), row, 1);
        grid->addWidget(MakeEdit(stock.max, stock.help, group), row, 2);
        grid->addWidget(MakeEdit(stock.min, stock.help, group), row, 3);
    }
    // Where today's IV30 stands in its own history, in the window chosen on
    // the right: a row for each figure, its maximum and minimum side by side.
    const char* rowLabel = nullptr;
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i) {
        const HistoryFilter& filter = kHistoryFilters[i];
        if (rowLabel == nullptr || std::strcmp(rowLabel, filter.RowLabel) != 0) {
            rowLabel = filter.RowLabel;
            ++row;
            grid->addWidget(Label(rowLabel, group), row, 0);
            grid->addWidget(Label("%", group), row, 1);
        }
        historyEdits_[i] = MakeHistoryEdit(filter, group);
        grid->addWidget(historyEdits_[i], row, filter.Maximum ? 2 : 3);
    }
    ++row;
    grid->addWidget(BoldLabel("Options", group), row, 0);
    grid->addWidget(Label("min", group), row, 3, Qt::AlignHCenter);
    for (const MinimumRow& option : kOptionRows) {
        ++row;
        grid->addWidget(Label(option.label, group), row, 0, 1, 3);
        grid->addWidget(MakeEdit(option.min, option.help, group), row, 3);
    }
    grid->setColumnStretch(0, 1);
    return group;
}

QGroupBox* TFilterForm::BuildOrGroup() {
    auto* group = new QGroupBox(QStringLiteral("OR Group Filters"), this);
    group->setObjectName(QStringLiteral("GroupBox2"));
    auto* grid = new QGridLayout(group);
    TightGrid(grid);
    grid->addWidget(BoldLabel("Options", group), 0, 0);
    grid->addWidget(Label("min", group), 0, 1, Qt::AlignHCenter);
    int row = 0;
    for (const MinimumRow& ratio : kRatioRows) {
        ++row;
        grid->addWidget(Label(ratio.label, group), row, 0);
        grid->addWidget(MakeEdit(ratio.min, ratio.help, group), row, 1);
    }
    grid->setColumnStretch(0, 1);
    return group;
}

QWidget* TFilterForm::BuildNote() {
    auto* note = new QWidget(this);
    auto* layout = new QVBoxLayout(note);
    layout->setContentsMargins(4, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BoldLabel("NOTE", note));
    layout->addWidget(Label(kNoteLines, note));
    return note;
}

QGroupBox* TFilterForm::BuildDeriveZorGroup() {
    auto* group = new QGroupBox(QStringLiteral("Derive ZOR from"), this);
    group->setObjectName(QStringLiteral("RG_DrvZORfrom"));
    SetHelpContext(group, kDeriveZorHelpContext);
    deriveZorItems_ = new QButtonGroup(group);
    auto* layout = new QHBoxLayout(group);
    layout->setContentsMargins(8, 2, 8, 4);
    int item = 0;
    for (const char* caption : {"Last price", "Ask price"}) {
        auto* button = new QRadioButton(QString::fromLatin1(caption), group);
        deriveZorItems_->addButton(button, item++);
        layout->addWidget(button);
    }
    return group;
}

// Each row's min edit before its max edit, top to bottom, then the right side.
void TFilterForm::SetTabOrder() {
    std::vector<QWidget*> order;
    for (const StockRow& stock : kStockRows) {
        order.push_back(edits_[stock.min]);
        order.push_back(edits_[stock.max]);
    }
    for (QLineEdit* edit : historyEdits_)
        order.push_back(edit);
    for (const MinimumRow& option : kOptionRows)
        order.push_back(edits_[option.min]);
    for (const MinimumRow& ratio : kRatioRows)
        order.push_back(edits_[ratio.min]);
    order.push_back(CB_IvWindow);
    order.push_back(CK_HistoryFigures);
    for (QAbstractButton* button : deriveZorItems_->buttons())
        order.push_back(button);
    order.push_back(CM_FilterUseDefault);
    order.push_back(ComboBox1);
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

// "The exchange's delayed quotes give no P/E, ... or 52-week range: leave
// their filters empty."; empty for a source that gives every figure.
static std::string SourceNoteText(QuoteSource source) {
    const std::vector<std::string> missing = FiguresMissing(source);
    if (missing.empty()) return {};
    std::string text = std::string(QuoteSourceTitle(source)) +
                       (source == QuoteSource::Tradier ? " gives no " : " give no ");
    for (std::size_t i = 0; i < missing.size(); ++i)
        text += (i == 0 ? "" : i + 1 == missing.size() ? " or " : ", ") + missing[i];
    text += ": leave their filters empty.";
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

void TFilterForm::FormShow() {
    const std::string note = SourceNoteText(settings_.Source());
    // "P/E" is not broken after its slash.
    QString text = FromLatin1(note);
    text.replace(QStringLiteral("P/E"), QStringLiteral("P/") + QChar(0x2060) + QStringLiteral("E"));
    SourceNote->setText(text);
    SourceNote->setVisible(!note.empty());
    // The dialog grows by the note's lines rather than squeeze the others.
    setFixedSize(QSize(0, 0));
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    QSize size = QSize(kClientWidth, kClientHeight).expandedTo(layout()->minimumSize());
    if (!note.empty()) size.rheight() += SourceNote->heightForWidth(GroupBox2->width()) + 6;
    setFixedSize(size);
    ComboBox1->setCurrentIndex(-1);
}

void TFilterForm::FormActivate() {
    for (std::size_t i = 0; i < kFilterCount; ++i)
        edits_[i]->setText(FromLatin1(settings_.Filters.Values[i].ToText()));
    // Every reader takes a value other than 0 as "Ask price".
    deriveZorItems_->button(settings_.Filters.DeriveZorFrom == 0 ? 0 : 1)->setChecked(true);
    const HistorySettings& h = settings_.History;
    // An unset IV filter shows as "NA", as the other filters do after a save.
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i)
        historyEdits_[i]->setText(FromLatin1(HistoryFilterText(h.*kHistoryFilters[i].Value)));
    const int weeks = SaneWindowWeeks(h.WindowWeeks);
    CB_IvWindow->setCurrentIndex(weeks == 13 ? 0 : weeks == 26 ? 1 : 2);
    CK_HistoryFigures->setChecked(h.ShowFigures);
    GroupBox1->setFocus();
}

void TFilterForm::CM_FilterUseDefaultClick() {
    const int item = ComboBox1->currentIndex();
    if (item >= 0 && item < static_cast<int>(kFilterTemplateNames.size())) {
        ApplyFilterTemplate(settings_.Filters, static_cast<FilterTemplate>(item));
        ClearHistoryFilters(settings_.History);
    }
    FormActivate();
}

void TFilterForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    CentreOnScreen(this);
    FormShow();
    FormActivate();
}

Settings TFilterForm::EditedSettings() const {
    Settings edited = settings_;
    for (std::size_t i = 0; i < kFilterCount; ++i)
        edited.Filters.Values[i] = ParseFilterValue(ToLatin1(edits_[i]->text()));
    edited.Filters.DeriveZorFrom = deriveZorItems_->checkedId();
    HistorySettings& h = edited.History;
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i)
        h.*kHistoryFilters[i].Value = ParseFilterValue(ToLatin1(historyEdits_[i]->text()));
    const int window = CB_IvWindow->currentIndex();
    h.WindowWeeks = window >= 0 && window < 3 ? kWindowWeeks[window] : 52;
    h.ShowFigures = CK_HistoryFigures->isChecked();
    return edited;
}

void TFilterForm::PB_BacktestClick() {
    const Settings edited = EditedSettings();
    BacktestOptions options;
    options.Filters = edited.Filters.Values;
    options.History = edited.History;
    TBacktestForm form(files_.WorkingDirectory, std::move(options), "the filter dialog's filters",
                       this);
    if (ShowBacktest) {
        ShowBacktest(form);
        return;
    }
    form.show();
    form.Run();
    form.exec();
}

void TFilterForm::done(int result) {
    settings_ = EditedSettings();
    SaveSettingsOrTell(settings_, files_, messages_);
    QDialog::done(result);
}

}  // namespace quillon
