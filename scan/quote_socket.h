#pragma once
// The operations the scan driver uses on its socket component. Events of the
// connection (connected, ready for data, data available, closed, error)
// come back to the driver's Sockets1... handlers on the same thread.

#include <string>

namespace quillon {

class QuoteSocket {
  public:
    virtual ~QuoteSocket() = default;
    // IPAddr and Port of the component.
    virtual void SetServer(const std::string& host, const std::string& port) = 0;
    virtual void SConnect() = 0;
    virtual void SetText(const std::string& text) = 0;
    // Up to `max` bytes into `buffer`; less than 1 when nothing more is there.
    virtual int SReceive(char* buffer, int max) = 0;
    virtual void Disconnect() = 0;
};

// A socket that never connects: a server scan without a network waits.
class NullQuoteSocket final : public QuoteSocket {
  public:
    void SetServer(const std::string&, const std::string&) override {}
    void SConnect() override {}
    void SetText(const std::string&) override {}
    int SReceive(char*, int) override { return 0; }
    void Disconnect() override {}
};

}  // namespace quillon
