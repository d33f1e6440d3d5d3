#include "results/shell_rules.h"

#include <fstream>
#include <utility>

#include "platform/files.h"
#include "platform/number_format.h"
#include "platform/text.h"
#include "results/settings_save.h"

namespace quillon {

std::string ScrollTicker(const std::string& caption) {
    if (caption.empty()) return caption;
    return caption.substr(1, 1000) + caption.front();
}

std::string VersionText(float version) {
    return "Version " + FormatPicture(version, "0.00#");
}

std::string MainCaption(const std::string& symbolFile) {
    return "Welcome to Quillon [" + symbolFile + "]";
}

std::string PrintedToFileMessage(const std::string& file) {
    return "No printer is installed: printed to " + file;
}

std::string SwapQuestion(const std::string& symbolFile, const std::string& listFile) {
    return "Swap the contents of " + symbolFile + "\nwith the contents of " + listFile +
           "\nAre you sure ?";
}

void SwapSymbolFile(const std::string& symbolFile, const std::string& listFile,
                    const std::string& tempFile) {
    DeleteFileQuietly(tempFile);
    const bool symbolsMoved = RenameFileQuietly(symbolFile, tempFile);
    if (!RenameFileQuietly(listFile, symbolFile) && symbolsMoved && FileExists(listFile)) {
        RenameFileQuietly(tempFile, symbolFile);
        return;
    }
    RenameFileQuietly(tempFile, listFile);
}

void ForgetSymbolPosition(RunTimeValues& runtime, const WorkingFileNames& files) {
    runtime.RestartPending = true;
    runtime.SymbolsLoaded = false;
    DeleteFileQuietly(files.ProgressFile);
}

void ApplySymbolFileChoice(const std::optional<std::string>& chosen, Settings& settings,
                           RunTimeValues& runtime, const WorkingFileNames& files,
                           MessageService& messages) {
    if (chosen) settings.SymbolFileName = *chosen;
    ForgetSymbolPosition(runtime, files);
    SaveSettingsOrTell(settings, files, messages);
}

void EditSymbolFile(const Settings& settings, RunTimeValues& runtime, const WorkingFileNames& files,
                    ProgramLauncher& launcher) {
    const std::string& name = settings.SymbolFileName;
    // Opening for appending creates a missing file and keeps an existing one.
    if (!FileExists(name)) std::ofstream(name, std::ios::binary | std::ios::app);
    launcher.LaunchProgram(name);
    ForgetSymbolPosition(runtime, files);
}

void SelectDataSource(QuoteSource source, bool hadMark, Settings& settings, RunTimeValues& runtime,
                      const WorkingFileNames& files, MessageService& messages) {
    settings.SetSource(source);
    if (!hadMark) {
        runtime.RestartPending = true;
        DeleteFileQuietly(files.ProgressFile);
    }
    SaveSettingsOrTell(settings, files, messages);
}

std::optional<FilterTemplate> FindFilterTemplate(std::string_view text) {
    for (std::size_t i = 0; i < kFilterTemplateNames.size(); ++i) {
        if (text == std::to_string(i) || SameLetters(text, kFilterTemplateNames[i])) {
            return static_cast<FilterTemplate>(i);
        }
    }
    return std::nullopt;
}

std::string NoSuchTemplateText(std::string_view text) {
    return "--template takes a number from 0 to 4 or the name of a template (see --help), not '" +
           std::string(text) + "'";
}

FilterValue* FilterNamed(Settings& settings, std::string_view name) {
    for (std::size_t i = 0; i < kFilterCount; ++i) {
        if (SameLetters(std::string_view(kFilterNames[i]).substr(3), name))
            return &settings.Filters.Values[i];
    }
    for (const HistoryFilter& filter : kHistoryFilters) {
        if (SameLetters(filter.Name, name)) return &(settings.History.*filter.Value);
    }
    return nullptr;
}

bool ApplyFilterTemplateAndSave(FilterTemplate which, Settings& settings,
                                const WorkingFileNames& files, MessageService& messages) {
    FilterSettings& filters = settings.Filters;
    ApplyFilterTemplate(filters, which);
    ClearHistoryFilters(settings.History);
    for (FilterValue& value : filters.Values)
        value = ParseFilterValue(value.ToText());
    // The radio group shows any value other than 0 as "Ask price".
    filters.DeriveZorFrom = filters.DeriveZorFrom == 0 ? 0 : 1;
    return SaveSettingsOrTell(settings, files, messages);
}

}  // namespace quillon
