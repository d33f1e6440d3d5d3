#pragma once
// The filter dialog: the 20 filter values in an AND group of stock and option
// limits and an OR group of two ZOR ratios, the price ZOR is derived from,
// and the templates. It has no OK or Cancel button: closing it by any means
// stores the edits (a text that is no number switches its filter off) and
// writes the settings file; a save that fails is told in a message box.

#include <array>
#include <functional>

#include <QDialog>
#include <QLabel>

#include "analytics/filters.h"
#include "platform/services.h"
#include "results/settings.h"
#include "ui/help_window.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace quillon {

inline constexpr int kDeriveZorHelpContext = 213;
// The dialog as a whole, the filter overview: asked for where no control
// with a topic of its own has the focus (the AND group, which takes it when
// the dialog opens, the OR group, the note).
inline constexpr int kFiltersHelpContext = 254;
inline constexpr int kTemplatesHelpContext = 215;
// The IV rank and IV percentile edits, the IV window and the history figures
// switch: the history topic.
inline constexpr int kHistoryHelpContext = 271;

class TFilterForm final : public QDialog {
    Q_OBJECT
  public:
    // `settings`, `files` and `messages` are the program's own and outlive
    // the dialog.
    TFilterForm(Settings& settings, const WorkingFileNames& files, MessageService& messages,
                HelpCallback help = {}, QWidget* parent = nullptr);

    // No template chosen: the list shows "Select a Template".
    void FormShow();
    // The stored values into the edits and the radio group; focus on the AND group.
    void FormActivate();
    // Applies the chosen template to the stored values at once, then shows them.
    void CM_FilterUseDefaultClick();
    // Back-tests the filters as the edits show them over the working
    // directory's History.db, in a window of its own.
    void PB_BacktestClick();
    // The settings with the edits as they stand, as closing would store them.
    Settings EditedSettings() const;

    // Opens the back-test window; by default modal. Tests take the window.
    std::function<void(class TBacktestForm& form)> ShowBacktest;

  protected:
    // Centred on the screen, then FormShow and FormActivate.
    void showEvent(QShowEvent* event) override;
    // FormClose: every edit is stored as a number or "NA", then the settings are saved.
    void done(int result) override;

  private:
    QGroupBox* BuildAndGroup();
    QGroupBox* BuildOrGroup();
    QWidget* BuildNote();
    QGroupBox* BuildDeriveZorGroup();
    QLineEdit* MakeEdit(FilterIndex index, int helpContext, QWidget* parent);
    QLineEdit* MakeHistoryEdit(const HistoryFilter& filter, QWidget* parent);
    QWidget* BuildHistoryRow();
    void SetTabOrder();

    Settings& settings_;
    const WorkingFileNames& files_;
    MessageService& messages_;
    std::array<QLineEdit*, kFilterCount> edits_{};
    QGroupBox* GroupBox1 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QGroupBox* RG_DrvZORfrom = nullptr;
    QButtonGroup* deriveZorItems_ = nullptr;  // item 0 "Last price", item 1 "Ask price"
    QPushButton* CM_FilterUseDefault = nullptr;
    QPushButton* PB_Backtest = nullptr;
    // What the chosen quote source does not give, when it lacks figures.
    QLabel* SourceNote = nullptr;
    QComboBox* ComboBox1 = nullptr;
    // The IV rank and IV percentile filters (an edit each, in kHistoryFilters'
    // order, named "TX_" and the filter's name), the window (13, 26 or 52
    // weeks) and the history figures switch.
    std::array<QLineEdit*, kHistoryFilterCount> historyEdits_{};
    QComboBox* CB_IvWindow = nullptr;
    QCheckBox* CK_HistoryFigures = nullptr;
};

}  // namespace quillon
