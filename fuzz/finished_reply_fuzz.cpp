// Any bytes as the quote server's reply to both requests of a symbol, handled
// by the scan driver as a finished reply: received in chunks, the connection
// closed, the reply processed at the next step.
//
// A reply whose status line refuses the login (401, 403 or 407: the same
// reply answers the first request of the run) pauses the scan with the login
// message and writes nothing; a reply with no byte is a failed request that
// is asked again; any other reply is parsed and leaves the driver at its next
// request or its next symbol, with the resume point whole.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "platform/files.h"
#include "scan/reply_status.h"
#include "scan/scan_driver.h"
#include "scan/scan_view.h"

namespace {

using namespace quillon;
using quillon::fuzz::Check;

// Hands out the reply in chunks whose sizes come from its first byte, and
// records the text they should add: each chunk up to its first zero byte,
// upper-cased.
class ReplySocket final : public QuoteSocket {
  public:
    explicit ReplySocket(std::string_view bytes) : bytes_(bytes) {}
    void SetServer(const std::string&, const std::string&) override {}
    void SConnect() override {}
    void SetText(const std::string&) override {
        offset_ = 0;
        expected.clear();
    }
    void Disconnect() override {}
    int SReceive(char* buffer, int max) override {
        if (offset_ == bytes_.size()) return -1;
        const std::size_t wanted = 1 + static_cast<unsigned char>(bytes_[0]) * 41u;
        const std::size_t size =
            std::min({wanted, static_cast<std::size_t>(max), bytes_.size() - offset_});
        std::memcpy(buffer, bytes_.data() + offset_, size);
        const std::string_view chunk = bytes_.substr(offset_, size);
        for (char c : chunk.substr(0, chunk.find('\0')))
            expected += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        offset_ += size;
        return static_cast<int>(size);
    }

    std::string expected;

  private:
    std::string_view bytes_;
    std::size_t offset_ = 0;
};

// A working directory of the fuzz run's own, emptied of output for each input.
const std::string& WorkingDirectory() {
    static const std::string directory = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quillon-fuzz-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr);
        std::ofstream(pattern + "/Symbols.sym", std::ios::binary) << "IBM\r\nMSFT\r\n";
        return pattern;
    }();
    return directory;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    const std::string& directory = WorkingDirectory();
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        if (entry.path().filename() != "Symbols.sym") std::filesystem::remove(entry.path());
    }

    quillon::fuzz::Services services;
    Context context(services.clock, services.messages, services.beeper);
    context.files = WorkingFileNames::In(directory);
    context.settings.SymbolFileName = directory + "/Symbols.sym";
    RecordingScanView view;
    ReplySocket socket(reply);
    ScanDriver driver(context, view, socket);
    driver.FormActivate();
    driver.PB_GoClick();
    driver.ScanStep();  // ReadSymbols
    Check(driver.ScanState() == NextSymbol);

    for (int request = 0; request < 2; ++request) {
        driver.ScanStep();  // NextSymbol: connect
        Check(driver.ScanState() == Connecting);
        driver.Sockets1SessionConnected();
        driver.Sockets1DataNeeded();
        driver.ScanStep();  // send
        Check(driver.ScanState() == AwaitReply);
        driver.Sockets1DataAvailable();
        driver.Sockets1SessionClosed();
        if (reply.empty()) {
            Check(driver.ScanState() == NextSymbol && view.Panels[1] == "Timeout Retry");
            Check(context.quote.PageText.empty());
            return 0;
        }
        Check(driver.ScanState() == ProcessReply);
        Check(context.quote.PageText == socket.expected);
        const bool refused = LoginRefusedStatus(ReplyStatusCode(socket.expected));
        driver.ScanStep();  // process

        if (refused) {
            Check(!driver.Running() && driver.LastStop() == ScanStop::LoginRefused);
            Check(services.messages.Shown.size() == 1 &&
                  services.messages.Shown[0] == kLoginRefused);
            Check(!FileExists(context.files.QuoteFile) && !FileExists(context.files.ProgressFile));
            return 0;
        }
        Check(driver.LastStop() == ScanStop::None && driver.ScanState() == NextSymbol);
        if (driver.RequestPhase() == 0) break;  // the stock page was not accepted, or both done
    }
    if (std::optional<std::string> point = ReadWholeFile(context.files.ProgressFile))
        Check(std::regex_match(*point, std::regex(R"(\d+ \d+)")));
    return 0;
}
