#pragma once
// Saving the settings from the desktop program: a save that fails is told
// to the user, since the next activation of the main window reads the
// settings file again and would silently undo the change.

#include <string>

#include "platform/services.h"
#include "results/settings.h"

namespace quillon {

// The message after a failed save of `settingsFile`; `error` is the errno
// value of the failure (0: not known).
std::string SettingsNotSavedMessage(const std::string& settingsFile, int error);

// SaveSettings; on failure the message above is shown. True when saved.
bool SaveSettingsOrTell(const Settings& settings, const WorkingFileNames& files,
                        MessageService& messages);

}  // namespace quillon
