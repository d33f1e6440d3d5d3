#pragma once
// The window frame of the setup dialogs: a fixed single border with a title
// and the system menu; the filter and interest-rate dialogs add the help
// button.

#include <Qt>

namespace quillon {

inline constexpr Qt::WindowFlags kSetupDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
    Qt::WindowCloseButtonHint;

inline constexpr Qt::WindowFlags kSetupDialogWithHelpFlags =
    kSetupDialogFlags | Qt::WindowContextHelpButtonHint;

}  // namespace quillon
