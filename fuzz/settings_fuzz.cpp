// Any bytes as the settings file Quillon.---: loading never crashes or grows
// without bound; reading the file and reading its text agree; and whatever
// was loaded is saved as 26 CR LF lines (and the 6 lines of the history
// filters when they are not at their defaults) that load back to the same
// settings.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "results/settings.h"

namespace {

using quillon::Settings;

Settings StartingPoint() {
    Settings s;
    quillon::SetDefaultSettings(s);
    s.SymbolFileName = "/w/Symbols.sym";
    return s;
}

// Every field but the interest rate, which the file holds to four decimals
// of a per cent only.
bool SameExceptRate(const Settings& a, const Settings& b) {
    if (a.UserName != b.UserName || a.Password != b.Password || a.QuoteServer != b.QuoteServer ||
        a.Filters.DeriveZorFrom != b.Filters.DeriveZorFrom ||
        a.SymbolFileName != b.SymbolFileName || a.QuotesFromLocalFile != b.QuotesFromLocalFile) {
        return false;
    }
    for (std::size_t i = 0; i < quillon::kFilterCount; ++i) {
        const auto& x = a.Filters.Values[i];
        const auto& y = b.Filters.Values[i];
        if (x.ToText() != y.ToText() || x.IsEmpty() != y.IsEmpty()) return false;
    }
    // The history filters after the described lines: an unused one may come
    // back as another unused text (they are not written when all are unused).
    const auto& h = a.History;
    const auto& k = b.History;
    auto same = [](const quillon::FilterValue& x, const quillon::FilterValue& y) {
        return x.InUse() == y.InUse() && (!x.InUse() || x.ToText() == y.ToText());
    };
    for (const quillon::HistoryFilter& filter : quillon::kHistoryFilters) {
        if (!same(h.*filter.Value, k.*filter.Value)) return false;
    }
    return h.WindowWeeks == k.WindowWeeks && h.ShowFigures == k.ShowFigures;
}

bool CloseRates(float a, float b) {
    const double x = a, y = b;
    return std::fabs(x - y) <= 1e-6 + 1e-6 * std::fabs(x);
}

// Exactly 26 lines (32 with the history filters), each ended by CR LF, no
// other LF.
bool HasSettingsShape(const std::string& text, std::size_t expected) {
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\n') continue;
        if (i == 0 || text[i - 1] != '\r') return false;
        ++lines;
    }
    return lines == expected && text.size() >= 2 && text.back() == '\n';
}

// A scratch file of this process, removed when the process ends.
struct ScratchFile {
    std::string name = "/tmp/quillon-fuzz-settings-" + std::to_string(::getpid());
    ~ScratchFile() { std::remove(name.c_str()); }
};

// Loads the bytes through the file reader, as start-up does.
bool LoadThroughFile(Settings& s, std::string_view bytes) {
    static const ScratchFile scratch;
    const std::string& name = scratch.name;
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr) std::abort();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    quillon::WorkingFileNames names;
    names.SettingsFile = name;
    return quillon::LoadSettings(s, names);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    Settings loaded = StartingPoint();
    const bool ok = quillon::LoadSettingsText(loaded, bytes);

    Settings fromFile = StartingPoint();
    if (LoadThroughFile(fromFile, bytes) != ok || !SameExceptRate(fromFile, loaded) ||
        fromFile.InterestRate != loaded.InterestRate) {
        std::abort();
    }

    const std::string saved = quillon::SettingsFileText(loaded);
    if (!HasSettingsShape(saved, loaded.History.IsDefault() ? 26 : 32)) std::abort();

    // Start the reload from other values so that every field has to be read.
    Settings again;
    again.QuoteServer = 7;
    again.Filters.DeriveZorFrom = 7;
    again.QuotesFromLocalFile = 7;
    if (!quillon::LoadSettingsText(again, saved)) std::abort();
    if (!SameExceptRate(again, loaded) || !CloseRates(again.InterestRate, loaded.InterestRate)) {
        std::abort();
    }
    return 0;
}
