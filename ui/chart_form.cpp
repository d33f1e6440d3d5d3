#include "ui/chart_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "history/history_store.h"
#include "ui/qt/qt_services.h"

namespace quillon {

namespace {

// The PNG is never smaller than this, whatever the window's size.
constexpr int kPngWidth = 960;
constexpr int kPngHeight = 560;

}  // namespace

// ---------------------------------------------------------------- TChartView

TChartView::TChartView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ChartView"));
    setMinimumSize(480, 300);
}

void TChartView::SetSeries(const ChartSeries* series, const QString& symbol) {
    series_ = series;
    symbol_ = symbol;
    update();
}

void TChartView::SetOptions(const ChartOptions& options) {
    options_ = options;
    update();
}

void TChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (series_) {
        PaintChart(painter, rect(), *series_, symbol_, options_);
    } else {
        painter.fillRect(rect(), Qt::white);
    }
}

// ---------------------------------------------------------------- TChartForm

TChartForm::TChartForm(const std::string& historyFile, const std::string& symbol, QWidget* parent)
    : QDialog(parent), historyFile_(historyFile) {
    setObjectName(QStringLiteral("ChartForm"));
    setWindowTitle(QStringLiteral("Chart"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    auto* symbolLabel = new QLabel(QStringLiteral("&Symbol:"), this);
    SymbolField_ = new QComboBox(this);
    SymbolField_->setObjectName(QStringLiteral("SymbolField"));
    SymbolField_->setEditable(true);
    SymbolField_->setInsertPolicy(QComboBox::NoInsert);
    SymbolField_->setMinimumContentsLength(10);
    symbolLabel->setBuddy(SymbolField_);
    PB_Show_ = new QPushButton(QStringLiteral("Show"), this);
    PB_Show_->setObjectName(QStringLiteral("PB_Show"));
    PB_Show_->setDefault(true);
    PB_SavePng_ = new QPushButton(QStringLiteral("Save as PNG..."), this);
    PB_SavePng_->setObjectName(QStringLiteral("PB_SavePng"));
    PB_SavePng_->setAutoDefault(false);
    PB_SavePng_->setEnabled(false);
    CK_IvRank_ = new QCheckBox(QStringLiteral("IV &rank"), this);
    CK_IvRank_->setObjectName(QStringLiteral("CK_IvRank"));
    CK_IvRank_->setToolTip(
        QStringLiteral("Draw IV rank over 52 weeks in a panel below the volatilities"));
    Summary_ = new QLabel(this);
    Summary_->setObjectName(QStringLiteral("Summary"));
    Summary_->setTextFormat(Qt::PlainText);

    auto* top = new QHBoxLayout;
    top->addWidget(symbolLabel);
    top->addWidget(SymbolField_);
    top->addWidget(PB_Show_);
    top->addWidget(Summary_, 1);
    top->addWidget(CK_IvRank_);
    top->addWidget(PB_SavePng_);

    Message_ = new QLabel(this);
    Message_->setObjectName(QStringLiteral("Message"));
    Message_->setTextFormat(Qt::PlainText);
    Message_->setAlignment(Qt::AlignCenter);
    Message_->setWordWrap(true);
    Message_->setMinimumSize(480, 300);
    View_ = new TChartView(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(View_, 1);
    layout->addWidget(Message_, 1);
    resize(900, 560);

    ChooseSaveFile = [](QWidget* owner, const QString& suggested) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Save the chart as PNG"),
                                            suggested, QStringLiteral("PNG images (*.png)"));
    };
    connect(PB_Show_, &QPushButton::clicked, this, [this] { ShowClick(); });
    connect(SymbolField_->lineEdit(), &QLineEdit::returnPressed, this, [this] { ShowClick(); });
    connect(SymbolField_, &QComboBox::activated, this, [this] { ShowClick(); });
    connect(PB_SavePng_, &QPushButton::clicked, this, [this] { SaveClick(); });
    connect(CK_IvRank_, &QCheckBox::toggled, this, [this] { View_->SetOptions(Options()); });

    FillSymbols();
    if (symbol.empty()) {
        View_->hide();
        Message_->setText(QStringLiteral("Type a symbol and press Show."));
        SymbolField_->setFocus();
    } else {
        ShowSymbol(symbol);
    }
}

TChartForm::~TChartForm() {
    disconnect(SymbolField_, nullptr, this, nullptr);
    disconnect(SymbolField_->lineEdit(), nullptr, this, nullptr);
}

void TChartForm::FillSymbols() {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(historyFile_, ignored)) return;
    HistoryStore store;
    if (!store.OpenForReading(historyFile_)) return;
    for (const std::string& s : store.Symbols())
        SymbolField_->addItem(ToQt(s));
    SymbolField_->setCurrentIndex(-1);
}

bool TChartForm::ShowSymbol(const std::string& typed) {
    // Symbols are recorded in capitals; a typed "ibm" means IBM.
    symbol_ = FromQt(ToQt(typed).trimmed().toUpper());
    SymbolField_->setEditText(ToQt(symbol_));
    setWindowTitle(symbol_.empty() ? QStringLiteral("Chart")
                                   : QStringLiteral("Chart - ") + ToQt(symbol_));
    std::string error;
    QString message;
    if (symbol_.empty()) {
        series_ = ChartSeries();
        message = QStringLiteral("Type a symbol and press Show.");
    } else if (!LoadChartSeries(historyFile_, symbol_, series_, error)) {
        message = QStringLiteral("The history cannot be read: %1").arg(ToQt(error));
    } else if (series_.Empty()) {
        message = QStringLiteral("No history for %1: no pass or import has recorded it in %2.")
                      .arg(ToQt(symbol_), ToQt(historyFile_));
    }
    View_->SetSeries(&series_, ToQt(symbol_));
    PB_SavePng_->setEnabled(!series_.Empty());
    if (series_.Empty()) {
        Summary_->clear();
        Message_->setText(message);
        View_->hide();
        Message_->show();
        return false;
    }
    const QLocale locale(QLocale::English);
    Summary_->setText(
        QStringLiteral("%1 from %2 to %3: IV30 on %4, saved on %5")
            .arg(ChartCount(static_cast<qlonglong>(series_.Points.size()), "day", "days"),
                 ChartDayText(series_.Points.front().Day), ChartDayText(series_.Points.back().Day),
                 locale.toString(series_.Iv30Days()), locale.toString(series_.MarkedDays())));
    Message_->hide();
    View_->show();
    return true;
}

bool TChartForm::SaveAsPng(const QString& file) {
    if (series_.Empty()) return false;
    QImage image(std::max(kPngWidth, View_->width()), std::max(kPngHeight, View_->height()),
                 QImage::Format_RGB32);
    {
        QPainter painter(&image);
        PaintChart(painter, image.rect(), series_, ToQt(symbol_), Options());
    }
    return image.save(file, "PNG");
}

ChartOptions TChartForm::Options() const {
    ChartOptions options;
    options.IvRank = CK_IvRank_->isChecked();
    return options;
}

void TChartForm::ShowClick() {
    ShowSymbol(FromQt(SymbolField_->currentText()));
}

void TChartForm::SaveClick() {
    if (series_.Empty() || !ChooseSaveFile) return;
    const std::filesystem::path directory = std::filesystem::path(historyFile_).parent_path();
    const QString suggested = ToQt((directory / (symbol_ + "-chart.png")).string());
    const QString file = ChooseSaveFile(this, suggested);
    if (!file.isEmpty() && !SaveAsPng(file)) {
        QMessageBox::warning(this, QStringLiteral("Chart"),
                             QStringLiteral("The chart could not be saved as %1.").arg(file));
    }
}

TChartForm* OpenChartWindow(QWidget* parent, const std::string& workingDirectory,
                            const std::string& symbol) {
    const std::string file =
        workingDirectory.empty() ? std::string("History.db") : workingDirectory + "/History.db";
    auto* form = new TChartForm(file, symbol, parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->show();
    form->raise();
    form->activateWindow();
    return form;
}

}  // namespace quillon
