#include "results/settings_save.h"

#include <cerrno>
#include <system_error>

namespace quillon {

std::string SettingsNotSavedMessage(const std::string& settingsFile, int error) {
    const std::string cause =
        error != 0 ? std::generic_category().message(error) : std::string("unknown error");
    return "The settings could not be saved in " + settingsFile + ":\n" + cause +
           "\nThe change is not kept: the settings file still holds the previous settings.";
}

bool SaveSettingsOrTell(const Settings& settings, const WorkingFileNames& files,
                        MessageService& messages) {
    errno = 0;
    if (SaveSettings(settings, files)) return true;
    const int error = errno;
    messages.ShowMessage(SettingsNotSavedMessage(files.SettingsFile, error));
    return false;
}

}  // namespace quillon
