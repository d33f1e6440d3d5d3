#pragma once
// TSockets: the program's TCP client component. It opens one connection at a
// time to a host and port given as texts, sends texts, receives bytes, and
// turns the socket notifications of its host (the user-interface event loop)
// into six events. Every failure goes through one error path, ReportError:
// the OnErrorOccurred event when bound, otherwise a message box and the end
// of the program.

#include <netinet/in.h>

#include <functional>
#include <string>

#include "platform/services.h"
#include "platform/winsock.h"
#include "scan/quote_socket.h"

namespace quillon {

class ScanDriver;

inline constexpr const char* kWinsockErrorCaption = "WINSOCK ERROR";
inline constexpr const char* kCallCanceledCaption = "WINSOCK CALL CANCELED";

class TSockets final : public QuoteSocket {
  public:
    // Socket events: the socket the notification is about.
    using SocketEvent = std::function<void(int socket)>;
    // The error event: the socket, the WinSock error number and its text.
    using ErrorEvent = std::function<void(int socket, int error, const std::string& msg)>;
    // A modal message box with a caption.
    using MessageBoxFunction =
        std::function<void(const std::string& caption, const std::string& text)>;

    // Notifications come from `host`, whose dispatch the component takes
    // over: one component per host.
    TSockets(winsock::AsyncSelectHost& host, MessageService& messages);
    ~TSockets() override;
    TSockets(const TSockets&) = delete;
    TSockets& operator=(const TSockets&) = delete;

    // Properties.
    int MaximumReceiveLength = 8192;  // for the user of the component; not read here
    std::string IPAddr;               // host name or dotted IPv4 address
    std::string Port;                 // service name or decimal port number
    int Timeout = 30;                 // seconds for one blocking call; 0 or less: no limit
    bool NonBlocking() const { return nonBlocking_ == 1; }
    void SetNonBlocking(bool value) { nonBlocking_ = value ? 1 : 0; }

    // Events.
    SocketEvent OnDataAvailable;     // data can be read
    SocketEvent OnDataNeeded;        // the socket can take data (also right after connecting)
    SocketEvent OnSessionClosed;     // the peer has closed the connection
    SocketEvent OnSessionAvailable;  // an incoming connection waits (not requested by SConnect)
    SocketEvent OnSessionConnected;  // the connection has been made
    ErrorEvent OnErrorOccurred;      // a failure

    // The component's message boxes. By default the text goes to the
    // MessageService, whose boxes carry the program's own caption.
    MessageBoxFunction ShowBox;
    // Ends the program after an unhandled error's message box; std::exit by
    // default, replaceable so that tests can watch it.
    std::function<void()> EndProgram;

    // QuoteSocket: IPAddr and Port, and the calls below on SocketHandle.
    void SetServer(const std::string& host, const std::string& port) override;
    // Opens a connection to IPAddr:Port. The outcome arrives as
    // OnSessionConnected or OnErrorOccurred in non-blocking mode. A connection
    // still open is closed first.
    void SConnect() override;
    // Sends the text once; a failure is reported.
    void SetText(const std::string& text) override;
    int SReceive(char* buffer, int max) override { return SReceive(SocketHandle_, buffer, max); }
    // Closes the connection; without one it reports 10038.
    void Disconnect() override;

    // Reads at most `length` bytes of `socket`; -1 for socket -1 and for any
    // failure, including WSAEWOULDBLOCK when no more data waits (not reported).
    int SReceive(int socket, char* buffer, int length);

    // The English description of a WinSock error number.
    static std::string ErrorText(int error);
    // The single error path (see the class comment).
    void ReportError(int socket, const std::string& functionName, int error);

    // The handler of the host's notifications: an error above 10000 is
    // reported under the event's name, otherwise the event is raised.
    void Notification(const winsock::SocketNotification& notification);

    // The socket of the current connection; -1 when there is none.
    int SocketHandle() const { return SocketHandle_; }

  private:
    bool ResolvePort(in_port_t& port);
    bool ResolveAddress(in_addr& address);
    bool OpenSocket();
    // Blocking mode: a call may take at most Timeout seconds (socket time-outs
    // stand in for the watchdog timer).
    void StartWatchdog(int socket);
    // Blocking mode: a call that ran out of time raises the watchdog's error
    // and fails with WSAEINTR, as a cancelled blocking call does.
    void StopWatchdog(int result);
    void CloseSocket(bool report);

    winsock::AsyncSelectHost& host_;
    int SocketHandle_ = -1;
    int nonBlocking_ = 1;
    sockaddr_in server_{};
};

// Binds the component's events to the scan window's handlers.
void BindSocketEvents(TSockets& sockets, ScanDriver& driver);

}  // namespace quillon
