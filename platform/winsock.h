#pragma once
// A WinSock-style socket layer over POSIX sockets: the call shapes and error
// numbers of WinSock 1.1 for a TCP client, so that the socket component keeps
// its WinSock vocabulary (10061 "Connection refused", 11001 "Host not found").
//
// Asynchronous selection: WSAAsyncSelect registers a socket with an
// AsyncSelectHost, the event loop of the user-interface thread. The host only
// watches sockets for readability and writability; this layer turns that
// readiness into WinSock's notifications, in WinSock's order and with its
// re-arming rules, and hands them to the host's dispatch callback:
//
//   FD_CONNECT  once the connect has finished, with 0 or the failure
//   FD_WRITE    right after a successful FD_CONNECT, and again once the
//               socket can take data after a send answered WSAEWOULDBLOCK
//   FD_READ     when data is waiting; not repeated until the program has
//               called recv (which re-arms it)
//   FD_CLOSE    once the peer has closed and all data has been read, with 0,
//               or with the failure of a connection that was reset
//
// The notifications are produced in winsock_notify.cpp, which the socket
// calls keep informed of what they did.
//
// Everything here runs on one thread (the user-interface thread); nothing is
// locked.

#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <utility>

namespace quillon::winsock {

using SOCKET = int;
inline constexpr SOCKET INVALID_SOCKET = -1;
inline constexpr int SOCKET_ERROR = -1;

// Notification event codes (the low word of WinSock's lParam).
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// shutdown() directions.
inline constexpr int SD_RECEIVE = 0;
inline constexpr int SD_SEND = 1;
inline constexpr int SD_BOTH = 2;

// WinSock 1.1 error numbers.
enum : int {
    WSABASEERR = 10000,
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSAENOTEMPTY = 10066,
    WSAEPROCLIM = 10067,
    WSAEUSERS = 10068,
    WSAEDQUOT = 10069,
    WSAESTALE = 10070,
    WSAEREMOTE = 10071,
    WSASYSNOTREADY = 10091,
    WSAVERNOTSUPPORTED = 10092,
    WSANOTINITIALISED = 10093,
    // A system failure without a WinSock counterpart.
    WSASYSCALLFAILURE = 10107,
    WSAHOST_NOT_FOUND = 11001,
    WSATRY_AGAIN = 11002,
    WSANO_RECOVERY = 11003,
    WSANO_DATA = 11004,
};

// ---------------------------------------------------------------- start-up

struct WSAData {
    std::uint16_t wVersion = 0;
    std::uint16_t wHighVersion = 0;
};

// Version 1.1 is 0x0101 (minor version in the high byte). Always succeeds for
// 1.1 and later; earlier versions give WSAVERNOTSUPPORTED.
int WSAStartup(std::uint16_t versionRequested, WSAData* data);
int WSACleanup();

// The error of the last failed call on this thread, as a WinSock number.
int WSAGetLastError();
void WSASetLastError(int error);

// The WinSock number of a POSIX errno value; WSASYSCALLFAILURE when the
// value has no WinSock counterpart.
int ErrorFromErrno(int errnoValue);
// The WinSock host-lookup number (11001 to 11004) of a getaddrinfo result.
int ErrorFromAddrInfo(int gaiResult, int errnoValue);

// ---------------------------------------------------------------- names

// A dotted IPv4 address to its network-order value; INADDR_NONE when the
// text is not one.
in_addr_t inet_addr(const char* text);

// The first IPv4 addresses of a host name. The entry lives until the next
// call on this thread. nullptr with the last error 11001 to 11004 when the
// name cannot be resolved.
const hostent* gethostbyname(const char* name);

// A service's port (network order in s_port); nullptr when unknown.
const servent* getservbyname(const char* name, const char* protocol);

// A protocol's number; "tcp" and "udp" are known even without a protocol
// database on the system.
const protoent* getprotobyname(const char* name);

// ---------------------------------------------------------------- sockets

// A socket that is non-blocking and closed on exec. Only AF_INET stream
// sockets are asked for by this program, but any POSIX family works.
SOCKET socket(int af, int type, int protocol);

// A non-blocking connect answers WSAEWOULDBLOCK and reports the outcome as
// FD_CONNECT. On a socket registered for notifications even an immediate
// failure arrives that way, as with WinSock.
int connect(SOCKET s, const sockaddr* name, int namelen);

// Sends without raising SIGPIPE. WSAEWOULDBLOCK re-arms FD_WRITE.
int send(SOCKET s, const char* buffer, int length, int flags);
// Any call re-arms FD_READ.
int recv(SOCKET s, char* buffer, int length, int flags);

int shutdown(SOCKET s, int how);
int setsockopt(SOCKET s, int level, int optname, const char* optval, int optlen);
int getsockopt(SOCKET s, int level, int optname, char* optval, int* optlen);

// FIONBIO: *argp non-zero for non-blocking mode, 0 for blocking mode.
int ioctlsocket(SOCKET s, long cmd, unsigned long* argp);

// Closes the socket and ends its notifications.
int closesocket(SOCKET s);

// ---------------------------------------------------------------- notifications

struct SocketNotification {
    SOCKET socket = INVALID_SOCKET;
    long event = 0;  // FD_READ, FD_WRITE, FD_CONNECT or FD_CLOSE
    int error = 0;   // a WinSock number, 0 for none
};

// The event loop that watches registered sockets and delivers their
// notifications on its own thread. An implementation keeps, per socket, a
// read and a write enable flag as Watch sets them, and calls SocketReady from
// its loop whenever an enabled condition holds (level-triggered: again on the
// next round while it still holds). A socket that has hung up or failed is
// both readable and writable. A QSocketNotifier pair per socket fits exactly.
class AsyncSelectHost {
  public:
    using Dispatch = std::function<void(const SocketNotification&)>;

    virtual ~AsyncSelectHost() = default;

    // Starts watching the socket, or changes what is watched.
    virtual void Watch(SOCKET s, bool wantRead, bool wantWrite) = 0;
    // Stops watching the socket; nothing more is reported for it.
    virtual void Unwatch(SOCKET s) = 0;

    // Where the notifications of the sockets registered with this host go.
    void SetDispatch(Dispatch dispatch) { dispatch_ = std::move(dispatch); }
    void Deliver(const SocketNotification& notification) const {
        if (dispatch_) dispatch_(notification);
    }

  protected:
    // Called by the implementation's loop for a ready socket; produces the
    // socket's notifications and delivers them.
    void SocketReady(SOCKET s, bool readable, bool writable);

  private:
    Dispatch dispatch_;
};

// Registers the socket's notifications (a combination of FD_ codes) with the
// host and makes the socket non-blocking; events 0 ends them at once,
// including any not yet delivered.
int WSAAsyncSelect(SOCKET s, AsyncSelectHost* host, long events);

}  // namespace quillon::winsock
