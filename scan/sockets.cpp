#include "scan/sockets.h"

#include <sys/time.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "scan/scan_driver.h"

namespace quillon {

namespace ws = winsock;

namespace {

struct ErrorDescription {
    int number;
    const char* text;
};

const ErrorDescription kErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Protocol not available"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references: can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network sub-system is unusable"},
    {10092, "WinSock DLL cannot support this application"},
    {10093, "WinSock not initialized"},
    {11001, "Host not found"},
    {11002, "Non-authoritative host not found"},
    {11003, "Non-recoverable error"},
    {11004, "No Data"},
};

constexpr std::uint16_t kWinsockVersion = 0x0101;  // 1.1
constexpr long kClientEvents = ws::FD_READ | ws::FD_WRITE | ws::FD_CONNECT | ws::FD_CLOSE;
constexpr int kWatchdogError = 10060;
constexpr const char* kWatchdogText = "Blocking call timed out";

// The name an event code is reported under.
const char* EventName(long event) {
    switch (event) {
        case ws::FD_READ:
            return "FD_READ";
        case ws::FD_WRITE:
            return "FD_WRITE";
        case ws::FD_ACCEPT:
            return "FD_ACCEPT";
        case ws::FD_CONNECT:
            return "FD_CONNECT";
        case ws::FD_CLOSE:
            return "FD_CLOSE";
        default:
            return "";
    }
}

// A port given as decimal digits only, 1 to 65535; 0 for anything else.
int DecimalPort(const std::string& text) {
    if (text.empty() || text.size() > 5) return 0;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    int value = std::atoi(text.c_str());
    return value <= 65535 ? value : 0;
}

// Copies a handler before calling it, so that a handler that replaces itself
// does not destroy the function that is running.
template <typename Event, typename... Args>
void Raise(const Event& event, Args&&... args) {
    if (!event) return;
    Event handler = event;
    handler(std::forward<Args>(args)...);
}

}  // namespace

TSockets::TSockets(ws::AsyncSelectHost& host, MessageService& messages) : host_(host) {
    ShowBox = [&messages](const std::string&, const std::string& text) {
        messages.ShowMessage(text);
    };
    EndProgram = [] { std::exit(EXIT_FAILURE); };
    host_.SetDispatch([this](const ws::SocketNotification& n) { Notification(n); });
    ws::WSAData data;
    if (ws::WSAStartup(kWinsockVersion, &data) != 0) {
        ReportError(0, "Constructor (WSAStartup)", ws::WSAGetLastError());
    }
}

TSockets::~TSockets() {
    // A connection still open is closed without a report: the handlers may
    // already be gone.
    if (SocketHandle_ != -1) CloseSocket(false);
    host_.SetDispatch(nullptr);
    if (ws::WSACleanup() < 0) ReportError(-1, "Destructor (WSACleanup)", ws::WSAGetLastError());
}

void TSockets::SetServer(const std::string& host, const std::string& port) {
    IPAddr = host;
    Port = port;
}

// ---------------------------------------------------------------- errors

std::string TSockets::ErrorText(int error) {
    for (const ErrorDescription& entry : kErrorTexts) {
        if (entry.number == error) return entry.text;
    }
    return "Not a WinSock error";
}

void TSockets::ReportError(int socket, const std::string& functionName, int error) {
    const std::string description = ErrorText(error);
    if (OnErrorOccurred) {
        Raise(OnErrorOccurred, socket, error, description);
        return;
    }
    ShowBox(kWinsockErrorCaption, "Error " + std::to_string(error) + " in function " +
                                      functionName + "\r\n" + description);
    EndProgram();
}

void TSockets::Notification(const ws::SocketNotification& notification) {
    const int socket = notification.socket;
    if (notification.error > 10000) {
        ReportError(socket, EventName(notification.event), notification.error);
        return;
    }
    switch (notification.event) {
        case ws::FD_READ:
            Raise(OnDataAvailable, socket);
            break;
        case ws::FD_WRITE:
            Raise(OnDataNeeded, socket);
            break;
        case ws::FD_ACCEPT:
            Raise(OnSessionAvailable, socket);
            break;
        case ws::FD_CONNECT:
            Raise(OnSessionConnected, socket);
            break;
        case ws::FD_CLOSE:
            Raise(OnSessionClosed, socket);
            break;
        default:
            break;
    }
}

// ---------------------------------------------------------------- connecting

void TSockets::SConnect() {
    // One connection at a time: an open one would otherwise be left behind.
    if (SocketHandle_ != -1) Disconnect();
    if (Port.empty()) {
        ShowBox(kWinsockErrorCaption, "No Port Specified");
        return;
    }
    if (IPAddr.empty()) {
        ShowBox(kWinsockErrorCaption, "No IP Address Specified");
        return;
    }
    server_ = sockaddr_in{};
    server_.sin_family = AF_INET;
    if (!ResolvePort(server_.sin_port)) return;
    if (!ResolveAddress(server_.sin_addr)) return;
    if (!OpenSocket()) return;

    StartWatchdog(SocketHandle_);
    int result =
        ws::connect(SocketHandle_, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
    StopWatchdog(result);
    // Non-blocking: the connect goes on and its outcome comes as FD_CONNECT.
    if (result != 0 && ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) {
        ReportError(SocketHandle_, "SConnect", ws::WSAGetLastError());
    }
}

// A known tcp service's port, or a decimal port number. Any other text is an
// invalid argument, reported through the error path.
bool TSockets::ResolvePort(in_port_t& port) {
    if (const servent* service = ws::getservbyname(Port.c_str(), "tcp")) {
        port = static_cast<in_port_t>(service->s_port);  // already in network order
        return true;
    }
    if (int number = DecimalPort(Port); number != 0) {
        port = htons(static_cast<std::uint16_t>(number));
        return true;
    }
    ReportError(-1, "SConnect (port)", ws::WSAEINVAL);
    return false;
}

// A dotted address as it is, otherwise the first address of the host name.
bool TSockets::ResolveAddress(in_addr& address) {
    in_addr_t dotted = ws::inet_addr(IPAddr.c_str());
    if (dotted != INADDR_NONE) {
        address.s_addr = dotted;
        return true;
    }
    const hostent* host = ws::gethostbyname(IPAddr.c_str());
    if (host == nullptr || host->h_addr_list[0] == nullptr) {
        ShowBox(kWinsockErrorCaption, "Cannot convert host address");
        return false;
    }
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return true;
}

// Creates the TCP socket and sets its mode: notifications through the host,
// or blocking calls.
bool TSockets::OpenSocket() {
    const protoent* tcp = ws::getprotobyname("tcp");
    SocketHandle_ = ws::socket(AF_INET, SOCK_STREAM, tcp != nullptr ? tcp->p_proto : 0);
    if (SocketHandle_ < 0) {
        // Nothing below can work without a socket: the first failure is the
        // one worth reporting.
        SocketHandle_ = -1;
        ReportError(-1, "SConnect (socket)", ws::WSAGetLastError());
        return false;
    }
    if (NonBlocking()) {
        if (ws::WSAAsyncSelect(SocketHandle_, &host_, kClientEvents) != 0) {
            ReportError(SocketHandle_, "WSAAsyncSelect", ws::WSAGetLastError());
        }
    } else {
        unsigned long blocking = 0;
        if (ws::ioctlsocket(SocketHandle_, FIONBIO, &blocking) != 0) {
            ReportError(SocketHandle_, "ioctlsocket", ws::WSAGetLastError());
        }
    }
    return true;
}

// ---------------------------------------------------------------- data

void TSockets::SetText(const std::string& text) {
    const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
    StartWatchdog(SocketHandle_);
    int sent = ws::send(SocketHandle_, text.data(), length, 0);
    StopWatchdog(sent);
    if (sent < 0) ReportError(SocketHandle_, "SetText (Send)", ws::WSAGetLastError());
}

int TSockets::SReceive(int socket, char* buffer, int length) {
    if (socket == -1) return -1;
    StartWatchdog(socket);
    int received = ws::recv(socket, buffer, length, 0);
    StopWatchdog(received);
    return received;
}

// ---------------------------------------------------------------- closing

void TSockets::Disconnect() {
    CloseSocket(true);
}

// Ends notifications, shuts both directions and closes at once, discarding
// unsent data (linger 0). Only the close itself is checked.
void TSockets::CloseSocket(bool report) {
    const int closing = SocketHandle_;
    SocketHandle_ = -1;
    if (NonBlocking()) ws::WSAAsyncSelect(closing, &host_, 0);
    ws::shutdown(closing, ws::SD_BOTH);
    const linger immediate{1, 0};
    ws::setsockopt(closing, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&immediate),
                   sizeof immediate);
    if (ws::closesocket(closing) != 0 && report) {
        ReportError(closing, "Disconnect (closesocket)", ws::WSAGetLastError());
    }
}

// ---------------------------------------------------------------- blocking mode

void TSockets::StartWatchdog(int socket) {
    if (NonBlocking() || socket < 0) return;
    // Without a positive Timeout a blocking call may wait for ever.
    timeval limit{};
    limit.tv_sec = Timeout > 0 ? Timeout : 0;
    for (int option : {SO_RCVTIMEO, SO_SNDTIMEO}) {
        ws::setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&limit),
                       sizeof limit);
    }
}

void TSockets::StopWatchdog(int result) {
    if (NonBlocking() || Timeout <= 0 || result >= 0) return;
    if (ws::WSAGetLastError() != ws::WSAEWOULDBLOCK) return;
    // The call ran out of time.
    if (OnErrorOccurred) {
        Raise(OnErrorOccurred, SocketHandle_, kWatchdogError, std::string(kWatchdogText));
    } else {
        ShowBox(kCallCanceledCaption,
                "Error " + std::to_string(kWatchdogError) + "\r\n" + kWatchdogText);
    }
    ws::WSASetLastError(ws::WSAEINTR);
}

// ---------------------------------------------------------------- binding

void BindSocketEvents(TSockets& sockets, ScanDriver& driver) {
    sockets.OnSessionConnected = [&driver](int) { driver.Sockets1SessionConnected(); };
    sockets.OnDataNeeded = [&driver](int) { driver.Sockets1DataNeeded(); };
    sockets.OnDataAvailable = [&driver](int) { driver.Sockets1DataAvailable(); };
    sockets.OnSessionClosed = [&driver](int) { driver.Sockets1SessionClosed(); };
    sockets.OnErrorOccurred = [&driver](int, int error, const std::string& msg) {
        driver.Sockets1ErrorOccurred(error, msg);
    };
    // Incoming connections are not asked for: OnSessionAvailable stays unbound.
}

}  // namespace quillon
