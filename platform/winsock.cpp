#include "platform/winsock.h"

#include "platform/winsock_notify.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
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
    notify::SocketOpened(s);
    return s;
}

int connect(SOCKET s, const sockaddr* name, int namelen) {
    if (namelen < 0) return Fail(WSAEFAULT);
    int result = ::connect(s, name, static_cast<socklen_t>(namelen));
    int connectErrno = result == 0 ? 0 : errno;
    if (!notify::IsKnown(s)) return result == 0 ? 0 : Fail(ErrorFromErrno(connectErrno));

    if (result == 0 || connectErrno == EINPROGRESS) {
        // A registered socket hears of the outcome through FD_CONNECT even
        // when the connect finished at once.
        notify::ConnectStarted(s, result == 0);
        return result == 0 ? 0 : Fail(WSAEWOULDBLOCK);
    }
    if (IsConnectOutcome(connectErrno) &&
        notify::DeferConnectFailure(s, ErrorFromErrno(connectErrno))) {
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(ErrorFromErrno(connectErrno));
}

int send(SOCKET s, const char* buffer, int length, int flags) {
    if (length < 0) return Fail(WSAEINVAL);
    ssize_t sent = ::send(s, buffer, static_cast<std::size_t>(length), flags | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    int sendErrno = errno;
    if (sendErrno == EAGAIN || sendErrno == EWOULDBLOCK) notify::SendWouldBlock(s);
    if (sendErrno == EPIPE && !notify::IsSendShutDown(s)) {
        return Fail(WSAECONNRESET);  // the peer ended the connection
    }
    return Fail(ErrorFromErrno(sendErrno));
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    if (length < 0) return Fail(WSAEINVAL);
    ssize_t received = ::recv(s, buffer, static_cast<std::size_t>(length), flags);
    int recvErrno = errno;
    const bool failed =
        received < 0 && recvErrno != EAGAIN && recvErrno != EWOULDBLOCK && recvErrno != EINTR;
    notify::Received(s, failed ? ErrorFromErrno(recvErrno) : 0);
    if (received < 0) return Fail(ErrorFromErrno(recvErrno));
    return static_cast<int>(received);
}

int shutdown(SOCKET s, int how) {
    int posixHow = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    if (how != SD_RECEIVE && how != SD_SEND && how != SD_BOTH) return Fail(WSAEINVAL);
    if (::shutdown(s, posixHow) != 0) return FailFromErrno();
    if (how != SD_RECEIVE) notify::SendShutDown(s);
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
    // As in WinSock, a socket with notifications cannot be made blocking.
    if (!nonBlocking && notify::HasNotifications(s)) return Fail(WSAEINVAL);
    if (!SetNonBlockingFlag(s, nonBlocking)) return FailFromErrno();
    return 0;
}

int closesocket(SOCKET s) {
    notify::SocketClosed(s);
    if (::close(s) != 0) return FailFromErrno();
    return 0;
}

}  // namespace quillon::winsock
