#pragma once
// The rules behind the main window's controls and menu commands, kept apart
// from the widgets so that they can be tested without a screen: the ticker's
// scrolling, the captions, and the commands that act on the symbol file, the
// list files and the data source.

#include <optional>
#include <string>
#include <string_view>

#include "platform/services.h"
#include "results/settings.h"

namespace quillon {

// The ticker's next caption: the caption without its first character (at
// most 1000 characters of the rest) followed by that character, so the text
// runs leftwards and wraps. An empty caption stays empty.
std::string ScrollTicker(const std::string& caption);

// "Version 1.96": the version with two or three decimals.
std::string VersionText(float version);

// The main window's caption, naming the symbol file in use.
std::string MainCaption(const std::string& symbolFile);

// Told after a printout that went to a file for want of a printer.
std::string PrintedToFileMessage(const std::string& file);

// The question asked before a swap of the symbol file with a list file.
std::string SwapQuestion(const std::string& symbolFile, const std::string& listFile);

// Exchanges the contents of the symbol file and a list file by renaming
// through `tempFile`. A missing list file leaves the symbols under the list
// file's name and no symbol file; a missing symbol file makes the list the
// symbol file. When the list file exists but cannot be moved, the symbol
// file is put back, so that the symbols are never left under `tempFile`
// (the next swap deletes it first).
void SwapSymbolFile(const std::string& symbolFile, const std::string& listFile,
                    const std::string& tempFile);

// After the symbol file was chosen or edited: the next scan reads the symbol
// file again and starts a new pass (Progress.--- is deleted).
void ForgetSymbolPosition(RunTimeValues& runtime, const WorkingFileNames& files);

// Choose Symbol File Name after the file dialog: a confirmed choice becomes
// the symbol file; confirmed or not, the scan starts a new pass and the
// settings are saved (a failed save is told through `messages`).
void ApplySymbolFileChoice(const std::optional<std::string>& chosen, Settings& settings,
                           RunTimeValues& runtime, const WorkingFileNames& files,
                           MessageService& messages);

// Edit Symbol File: a missing symbol file is created empty, opened in the
// editor, and the next scan starts a new pass. The settings are not saved.
void EditSymbolFile(const Settings& settings, RunTimeValues& runtime, const WorkingFileNames& files,
                    ProgramLauncher& launcher);

// The data-source commands. `hadMark` is whether the chosen command
// carried the check mark before: choosing another source forces a new pass,
// choosing the same one only saves the settings. A failed save is told
// through `messages`.
void SelectDataSource(QuoteSource source, bool hadMark, Settings& settings, RunTimeValues& runtime,
                      const WorkingFileNames& files, MessageService& messages);

// The filter template `text` names: its place in the filter dialog's list
// (0 to 4) or its name in any case ("for low p/e stocks"); nothing otherwise.
std::optional<FilterTemplate> FindFilterTemplate(std::string_view text);
// What a command line's --template that names no template is told.
std::string NoSuchTemplateText(std::string_view text);

// The filter a command line names as the report names it ("MinLast",
// "MaxPE", "MinIvRank"), in any case; nullptr for an unknown name.
FilterValue* FilterNamed(Settings& settings, std::string_view name);

// The filter dialog's Use Template followed by closing the dialog: the
// template's values, each then taken back from its text form as the dialog
// takes its edits (the text "7" becomes the number 7), the price ZOR is
// derived from as the dialog's radio group holds it, and the settings saved
// (a failed save is told through `messages`). True when saved.
bool ApplyFilterTemplateAndSave(FilterTemplate which, Settings& settings,
                                const WorkingFileNames& files, MessageService& messages);

}  // namespace quillon
