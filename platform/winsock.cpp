#include "platform/winsock.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quillon::winsock {

namespace {

thread_local int lastError = 0;

// Sets the last error from errno and returns SOCKET_ERROR, for the failure
// path of the calls below.
int FailFromErrno() {
    lastError = ErrorFromErrno(errno);
    return SOCKET_ERROR;
}

int Fail(int error) {
    lastError = error;
    return SOCKET_ERROR;
}

// POSIX errno values and their WinSock numbers; the first match wins.
const std::pair<int, int> kErrnoTable[] = {
    {EINTR, WSAEINTR},
    // WinSock has no descriptors that are not sockets: a bad one is a non-socket.
    {EBADF, WSAENOTSOCK},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EAGAIN, WSAEWOULDBLOCK},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
#ifdef ESOCKTNOSUPPORT
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
#endif
    {EOPNOTSUPP, WSAEOPNOTSUPP},
#ifdef EPFNOSUPPORT
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
#endif
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
#ifdef ESHUTDOWN
    {ESHUTDOWN, WSAESHUTDOWN},
#endif
    // Sending after the connection's end; send() tells a reset from a local
    // shutdown.
    {EPIPE, WSAESHUTDOWN},
#ifdef ETOOMANYREFS
    {ETOOMANYREFS, WSAETOOMANYREFS},
#endif
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
#ifdef EHOSTDOWN
    {EHOSTDOWN, WSAEHOSTDOWN},
#endif
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
#ifdef EUSERS
    {EUSERS, WSAEUSERS},
#endif
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
#ifdef EREMOTE
    {EREMOTE, WSAEREMOTE},
#endif
};

// Failures that are the outcome of a connection attempt rather than a misuse
// of the call; with notifications they arrive as FD_CONNECT.
bool IsConnectOutcome(int errnoValue) {
    return errnoValue == ECONNREFUSED || errnoValue == ENETUNREACH || errnoValue == EHOSTUNREACH ||
           errnoValue == ETIMEDOUT || errnoValue == ECONNRESET;
}

// ---------------------------------------------------------------- socket state

enum class Phase { Idle, Connecting, Connected, Closed };

// What this layer knows of a socket beyond the descriptor.
struct SocketState {
    Phase phase = Phase::Idle;
    bool sendShutdown = false;  // shutdown() of the sending direction was called
    int connectError = 0;       // an immediate connect failure, still to report
    int closeError = 0;         // a reset that recv() met, reported with FD_CLOSE
    // Notification registration.
    AsyncSelectHost* host = nullptr;
    long events = 0;
    bool readArmed = false;
    bool writeArmed = false;
    // Changes with every registration and close, so that readiness found
    // before a change is not applied to what came after it.
    std::uint64_t registration = 0;
};

std::unordered_map<SOCKET, SocketState>& States() {
    static std::unordered_map<SOCKET, SocketState> states;
    return states;
}

std::uint64_t NextRegistration() {
    static std::uint64_t counter = 0;
    return ++counter;
}

SocketState* Find(SOCKET s) {
    auto it = States().find(s);
    return it == States().end() ? nullptr : &it->second;
}

// The state of a socket still registered as `registration`; nullptr once it
// was deregistered, re-registered or closed.
SocketState* Current(SOCKET s, std::uint64_t registration) {
    SocketState* state = Find(s);
    return state != nullptr && state->host != nullptr && state->registration == registration
               ? state
               : nullptr;
}

// Tells the host what to watch in the socket's present phase: writability
// while connecting, then readability while FD_READ is armed and writability
// while FD_WRITE is armed; nothing before connect or after the end.
void UpdateWatch(SOCKET s, const SocketState& state) {
    if (state.host == nullptr) return;
    bool read = false;
    bool write = false;
    if (state.phase == Phase::Connecting) {
        write = true;
    } else if (state.phase == Phase::Connected) {
        read = state.readArmed && (state.events & (FD_READ | FD_CLOSE)) != 0;
        write = state.writeArmed && (state.events & FD_WRITE) != 0;
    }
    state.host->Watch(s, read, write);
}

// Delivers one notification if it was asked for. False when the handler
// ended the registration, so that nothing more is delivered for it.
bool Notify(SOCKET s, std::uint64_t registration, long event, int error) {
    SocketState* state = Current(s, registration);
    if (state == nullptr) return false;
    if ((state->events & event) != 0) state->host->Deliver({s, event, error});
    return Current(s, registration) != nullptr;
}

// A connect has finished: FD_CONNECT with its outcome, then FD_WRITE.
void FinishConnect(SOCKET s, SocketState& state) {
    const std::uint64_t registration = state.registration;
    int error = state.connectError;
    state.connectError = 0;
    if (error == 0) {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &length) != 0) soError = errno;
        if (soError != 0) error = ErrorFromErrno(soError);
    }
    if (error != 0) {
        state.phase = Phase::Closed;
        UpdateWatch(s, state);
        Notify(s, registration, FD_CONNECT, error);
        return;
    }
    state.phase = Phase::Connected;
    state.readArmed = true;
    state.writeArmed = false;
    UpdateWatch(s, state);
    if (!Notify(s, registration, FD_CONNECT, 0)) return;
    Notify(s, registration, FD_WRITE, 0);
}

// The socket is readable: data (FD_READ), the peer's close after all data
// was read (FD_CLOSE), or a reset (FD_CLOSE with its error). FD_READ stays
// disarmed until the program calls recv.
void CheckReadable(SOCKET s, SocketState& state) {
    const std::uint64_t registration = state.registration;
    state.readArmed = false;
    char byte = 0;
    ssize_t peeked = ::recv(s, &byte, 1, MSG_PEEK);
    int peekErrno = errno;
    if (peeked > 0) {
        UpdateWatch(s, state);
        Notify(s, registration, FD_READ, 0);
        return;
    }
    if (peeked < 0 && (peekErrno == EAGAIN || peekErrno == EWOULDBLOCK || peekErrno == EINTR)) {
        state.readArmed = true;  // nothing after all; keep watching
        return;
    }
    state.phase = Phase::Closed;
    UpdateWatch(s, state);
    int error = peeked == 0 ? state.closeError : ErrorFromErrno(peekErrno);
    Notify(s, registration, FD_CLOSE, error);
}

// The socket can take data again after a send answered WSAEWOULDBLOCK.
void CheckWritable(SOCKET s, SocketState& state) {
    const std::uint64_t registration = state.registration;
    state.writeArmed = false;
    UpdateWatch(s, state);
    Notify(s, registration, FD_WRITE, 0);
}

bool SetNonBlockingFlag(SOCKET s, bool nonBlocking) {
    int flags = ::fcntl(s, F_GETFL);
    if (flags < 0) return false;
    flags = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    return ::fcntl(s, F_SETFL, flags) == 0;
}

// Storage of the entry gethostbyname returns.
struct HostEntryStore {
    hostent entry{};
    std::string name;
    std::vector<in_addr> addresses;
    std::vector<char*> addressList;
    char* aliases[1] = {nullptr};
};

}  // namespace

// ---------------------------------------------------------------- start-up and errors

int WSAStartup(std::uint16_t versionRequested, WSAData* data) {
    const unsigned major = versionRequested & 0xFFU;
    const unsigned minor = (versionRequested >> 8) & 0xFFU;
    if (major < 1 || (major == 1 && minor < 1)) return WSAVERNOTSUPPORTED;
    if (data != nullptr) {
        data->wVersion = 0x0101;
        data->wHighVersion = 0x0101;
    }
    return 0;
}

int WSACleanup() {
    return 0;
}

int WSAGetLastError() {
    return lastError;
}

void WSASetLastError(int error) {
    lastError = error;
}

int ErrorFromErrno(int errnoValue) {
    for (const auto& [posix, wsa] : kErrnoTable) {
        if (posix == errnoValue) return wsa;
    }
    return WSASYSCALLFAILURE;
}

int ErrorFromAddrInfo(int gaiResult, int errnoValue) {
    switch (gaiResult) {
        case EAI_NONAME:
            return WSAHOST_NOT_FOUND;
        case EAI_AGAIN:
            return WSATRY_AGAIN;
        case EAI_FAIL:
            return WSANO_RECOVERY;
#ifdef EAI_NODATA
        case EAI_NODATA:
            return WSANO_DATA;
#endif
#ifdef EAI_ADDRFAMILY
        case EAI_ADDRFAMILY:
            return WSANO_DATA;
#endif
        case EAI_MEMORY:
            return WSAENOBUFS;
        case EAI_SYSTEM:
            return ErrorFromErrno(errnoValue);
        default:
            return WSANO_RECOVERY;
    }
}

// ---------------------------------------------------------------- names

in_addr_t inet_addr(const char* text) {
    return text == nullptr ? INADDR_NONE : ::inet_addr(text);
}

const hostent* gethostbyname(const char* name) {
    if (name == nullptr || *name == '\0') {
        lastError = WSAHOST_NOT_FOUND;
        return nullptr;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int result = ::getaddrinfo(name, nullptr, &hints, &found);
    if (result != 0) {
        lastError = ErrorFromAddrInfo(result, errno);
        return nullptr;
    }
    thread_local HostEntryStore store;
    store.name = name;
    store.addresses.clear();
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
            store.addresses.push_back(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr);
        }
    }
    ::freeaddrinfo(found);
    if (store.addresses.empty()) {
        lastError = WSANO_DATA;
        return nullptr;
    }
    store.addressList.clear();
    for (in_addr& address : store.addresses) {
        store.addressList.push_back(reinterpret_cast<char*>(&address));
    }
    store.addressList.push_back(nullptr);
    store.entry.h_name = store.name.data();
    store.entry.h_aliases = store.aliases;
    store.entry.h_addrtype = AF_INET;
    store.entry.h_length = sizeof(in_addr);
    store.entry.h_addr_list = store.addressList.data();
    return &store.entry;
}

const servent* getservbyname(const char* name, const char* protocol) {
    if (name == nullptr || *name == '\0') return nullptr;
    return ::getservbyname(name, protocol);
}

const protoent* getprotobyname(const char* name) {
    if (name == nullptr) return nullptr;
    if (const protoent* entry = ::getprotobyname(name)) return entry;
    // A system without /etc/protocols still knows the two Internet transports.
    static char tcpName[] = "tcp";
    static char udpName[] = "udp";
    static char* noAliases[] = {nullptr};
    static protoent tcp{tcpName, noAliases, IPPROTO_TCP};
    static protoent udp{udpName, noAliases, IPPROTO_UDP};
    if (std::string(name) == "tcp") return &tcp;
    if (std::string(name) == "udp") return &udp;
    lastError = WSANO_DATA;
    return nullptr;
}

// ---------------------------------------------------------------- sockets

SOCKET socket(int af, int type, int protocol) {
    SOCKET s = ::socket(af, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (s < 0) return FailFromErrno();
    SocketState& state = States()[s];
    state = SocketState{};
    state.registration = NextRegistration();
    return s;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    if (namelen < 0) return Fail(WSAEFAULT);
    int result = ::connect(s, name, static_cast<socklen_t>(namelen));
    int connectErrno = result == 0 ? 0 : errno;
    SocketState* state = Find(s);
    if (state == nullptr) return result == 0 ? 0 : FailFromErrno();

    const bool notified = state->host != nullptr && state->events != 0;
    if (result == 0 || connectErrno == EINPROGRESS) {
        // A registered socket hears of the outcome through FD_CONNECT even
        // when the connect finished at once.
        state->phase = notified || result != 0 ? Phase::Connecting : Phase::Connected;
        UpdateWatch(s, *state);
        return result == 0 ? 0 : Fail(WSAEWOULDBLOCK);
    }
    if (notified && IsConnectOutcome(connectErrno)) {
        // Reported as FD_CONNECT; the failed socket polls ready at once.
        state->connectError = ErrorFromErrno(connectErrno);
        state->phase = Phase::Connecting;
        UpdateWatch(s, *state);
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(ErrorFromErrno(connectErrno));
}

int send(SOCKET s, const char* buffer, int length, int flags) {
    if (length < 0) return Fail(WSAEINVAL);
    ssize_t sent = ::send(s, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    int sendErrno = errno;
    SocketState* state = Find(s);
    if (state != nullptr && (sendErrno == EAGAIN || sendErrno == EWOULDBLOCK)) {
        state->writeArmed = true;
        UpdateWatch(s, *state);
    }
    if (sendErrno == EPIPE && (state == nullptr || !state->sendShutdown)) {
        return Fail(WSAECONNRESET);  // the peer ended the connection
    }
    return Fail(ErrorFromErrno(sendErrno));
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    if (length < 0) return Fail(WSAEINVAL);
    ssize_t received = ::recv(s, buffer, static_cast<std::size_t>(length), flags);
    int recvErrno = errno;
    SocketState* state = Find(s);
    if (state != nullptr) {
        // A reset taken by the program's own read still ends with FD_CLOSE
        // carrying it.
        if (received < 0 && recvErrno != EAGAIN && recvErrno != EWOULDBLOCK && recvErrno != EINTR) {
            state->closeError = ErrorFromErrno(recvErrno);
        }
        if (state->phase == Phase::Connected && !state->readArmed) {
            state->readArmed = true;
            UpdateWatch(s, *state);
        }
    }
    if (received < 0) return Fail(ErrorFromErrno(recvErrno));
    return static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
    int posixHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return Fail(WSAEINVAL);
    if (::shutdown(s, posixHow) != 0) return FailFromErrno();
    if (SocketState* state = Find(s); state != nullptr && how != SD_RECEIVE) {
        state->sendShutdown = true;
    }
    return 0;
}

int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen) {
    if (optlen < 0) return Fail(WSAEFAULT);
    if (::setsockopt(s, level, optname, optval, static_cast<socklen_t>(optlen)) != 0) {
        return FailFromErrno();
    }
    return 0;
}

int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen) {
    if (optlen == nullptr || *optlen < 0) return Fail(WSAEFAULT);
    socklen_t length = static_cast<socklen_t>(*optlen);
    if (::getsockopt(s, level, optname, optval, &length) != 0) return FailFromErrno();
    *optlen = static_cast<int>(length);
    return 0;
}

int ioctlsocket(SOCKET s, long cmd, unsigned long* argp) {
    if (cmd != static_cast<long>(FIONBIO) || argp == nullptr) return Fail(WSAEINVAL);
    const bool nonBlocking = *argp != 0;
    SocketState* state = Find(s);
    // As in WinSock, a socket with notifications cannot be made blocking.
    if (!nonBlocking && state != nullptr && state->events != 0) return Fail(WSAEINVAL);
    if (!SetNonBlockingFlag(s, nonBlocking)) return FailFromErrno();
    return 0;
}

int closesocket(SOCKET s) {
    if (SocketState* state = Find(s)) {
        if (state->host != nullptr) state->host->Unwatch(s);
        States().erase(s);
    }
    if (::close(s) != 0) return FailFromErrno();
    return 0;
}

// ---------------------------------------------------------------- notifications

int WSAAsyncSelect(SOCKET s, AsyncSelectHost* host, long events) {
    if (s < 0 || ::fcntl(s, F_GETFD) < 0) return Fail(WSAENOTSOCK);
    if (events != 0 && host == nullptr) return Fail(WSAEINVAL);
    SocketState& state = States()[s];
    if (state.host != nullptr && (state.host != host || events == 0)) state.host->Unwatch(s);
    // A new registration: readiness found under the old one is dropped.
    state.registration = NextRegistration();
    if (events == 0) {
        state.host = nullptr;
        state.events = 0;
        return 0;
    }
    if (!SetNonBlockingFlag(s, true)) return FailFromErrno();
    state.host = host;
    state.events = events;
    state.readArmed = true;
    // A connected socket can take data: WinSock announces that at once.
    state.writeArmed = state.phase == Phase::Connected;
    UpdateWatch(s, state);
    return 0;
}

void AsyncSelectHost::SocketReady(SOCKET s, bool readable, bool writable) {
    SocketState* state = Find(s);
    if (state == nullptr || state->host != this || (!readable && !writable)) return;
    const std::uint64_t registration = state->registration;
    if (state->phase == Phase::Connecting) {
        FinishConnect(s, *state);
        return;
    }
    if (state->phase != Phase::Connected) return;
    if (readable && state->readArmed) {
        CheckReadable(s, *state);
        state = Current(s, registration);
        if (state == nullptr || state->phase != Phase::Connected) return;
    }
    if (writable && state->writeArmed) CheckWritable(s, *state);
}

}  // namespace quillon::winsock
