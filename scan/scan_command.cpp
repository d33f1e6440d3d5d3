#include "scan/scan_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/scan_lock.h"
#include "platform/services.h"
#include "results/settings_save.h"
#include "results/shell_rules.h"
#include "results/token_store.h"
#include "scan/context.h"

namespace quillon {
namespace {

// Saves what the setup options ask for, as the desktop program's commands
// save it, before the scan window opens and reads it. A settings file that
// cannot be saved is told and the run goes on with the values asked for;
// false when QuoteHosts.txt cannot be written, since the scan would then
// talk to other hosts than those named.
bool ApplySetup(const ScanCommand& options, Context& context) {
    Settings& settings = context.settings;
    const WorkingFileNames& files = context.files;
    if (options.hosts) {
        const std::string name = files.WorkingDirectory + "/QuoteHosts.txt";
        errno = 0;
        if (!ReplaceFileAtomically(name, QuoteHostsText(*options.hosts), false)) {
            std::fprintf(stderr, "quillon-scan: cannot write %s: %s\n", name.c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return false;
        }
    }
    if (options.token) {
        errno = 0;
        if (!SaveToken(files, *options.token)) {
            std::fprintf(stderr, "quillon-scan: cannot write %s: %s\n", files.TokenFile.c_str(),
                         std::strerror(errno != 0 ? errno : EIO));
            return false;
        }
    }
    if (options.source) {
        // As the Setup menu's command: another source than the settings file's
        // starts a new pass.
        SelectDataSource(*options.source, settings.Source() == *options.source, settings,
                         context.runtime, files, context.messages);
    }
    if (options.symbolFile) {
        // As Choose Symbol File Name; the same file again keeps the pass, so
        // that a command repeated by a schedule goes on where it stopped.
        if (*options.symbolFile == settings.SymbolFileName) {
            SaveSettingsOrTell(settings, files, context.messages);
        } else {
            ApplySymbolFileChoice(options.symbolFile, settings, context.runtime, files,
                                  context.messages);
        }
    }
    if (options.filterTemplate) {
        ApplyFilterTemplateAndSave(*options.filterTemplate, settings, files, context.messages);
    }
    if (options.userName || options.password) {
        // As the server dialog: what is not given stays as stored.
        if (options.userName) settings.UserName = *options.userName;
        if (options.password) settings.Password = *options.password;
        SaveSettingsOrTell(settings, files, context.messages);
    }
    return true;
}

// The scan's advice in the words of this program: its options, not the
// desktop program's menus and buttons.
ScanAdvice RunnerAdvice() {
    ScanAdvice advice;
    advice.ChooseSymbolFile = "Use --symbol-file FILE to choose another file.";
    advice.CheckLogin = std::string("Give them with --user NAME and --password-file FILE (or ") +
                        kScanPasswordVariable + "), then run quillon-scan again.";
    advice.LoginRefusedStatus = "Login refused: see --user and --password-file";
    advice.GoOn = "run quillon-scan again";
    advice.CheckToken = std::string("Give a valid one with --token-file FILE (or ") +
                        kScanTokenVariable + "), then run quillon-scan again.";
    advice.GoOnLater =
        "Check the network connection and --source-url, then run quillon-scan "
        "again.";
    return advice;
}

}  // namespace

int RunScanCommand(ScanCommand options, const HeadlessRun& run) {
    // The directory is this run's before any working file is read or
    // written, and stays so until the process ends.
    ScanLock lock;
    const std::string directory = CurrentDirectory();
    switch (lock.Take(directory, "quillon-scan", options.wait, [](const ScanLockHolder& holder) {
        std::fprintf(stderr, "quillon-scan: waiting for %s to finish with the directory\n",
                     holder.Text().c_str());
    })) {
        case ScanLock::Outcome::Taken:
            break;
        case ScanLock::Outcome::Busy:
            std::fprintf(stderr, "quillon-scan: %s Try again when it ends, or use --wait.\n",
                         ScanLockRefusal(directory, lock.Holder()).c_str());
            return kExitBusy;
        case ScanLock::Outcome::Failed:
            std::fprintf(stderr, "quillon-scan: %s\n", lock.Error().c_str());
            return kExitCannotStart;
    }

    // A directory that quillon-import filled and no program has worked in
    // yet has quotes in Quote.txt and no settings: its first run scans them
    // rather than wait for a quote server.
    const WorkingFileNames names = WorkingFileNames::In(directory);
    if (!options.source && QueryFileSize(names.SettingsFile) <= 0 &&
        QueryFileSize(names.QuoteFile) > 0) {
        options.source = QuoteSource::Local;
        std::fprintf(stderr,
                     "quillon-scan: a new working directory with a quote archive: the quotes "
                     "come from %s (saved in the settings; --server takes them from the quote "
                     "server)\n",
                     names.QuoteFile.c_str());
    }

    SystemClock clock;
    StderrMessages messages;
    SilentBeeper beeper;
    Context context(clock, messages, beeper);
    context.advice = RunnerAdvice();
    InitWorkingFiles(context.settings, context.runtime, context.files);
    if (!ApplySetup(options, context)) return kExitCannotStart;
    context.requestedDate = options.date;

    return RunHeadlessScan(context, run);
}

}  // namespace quillon
