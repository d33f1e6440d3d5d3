#include "platform/winsock_notify.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <unordered_map>

// Asynchronous selection. The host only watches sockets for readability and
// writability; the functions here turn that readiness into WinSock's
// notifications, in WinSock's order and with its re-arming rules (see
// winsock.h), and hand them to the host's dispatch callback.

namespace quillon::winsock {

namespace {

int Fail(int error) {
    WSASetLastError(error);
    return SOCKET_ERROR;
}

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

}  // namespace

// ---------------------------------------------------------------- what the calls tell

namespace notify {

void SocketOpened(SOCKET s) {
    SocketState& state = States()[s];
    state = SocketState{};
    state.registration = NextRegistration();
}

bool IsKnown(SOCKET s) {
    return Find(s) != nullptr;
}

void ConnectStarted(SOCKET s, bool finished) {
    SocketState* state = Find(s);
    if (state == nullptr) return;
    const bool notified = state->host != nullptr && state->events != 0;
    state->phase = notified || !finished ? Phase::Connecting : Phase::Connected;
    UpdateWatch(s, *state);
}

bool DeferConnectFailure(SOCKET s, int error) {
    SocketState* state = Find(s);
    if (state == nullptr || state->host == nullptr || state->events == 0) return false;
    // Reported as FD_CONNECT; the failed socket polls ready at once.
    state->connectError = error;
    state->phase = Phase::Connecting;
    UpdateWatch(s, *state);
    return true;
}

void SendWouldBlock(SOCKET s) {
    SocketState* state = Find(s);
    if (state == nullptr) return;
    state->writeArmed = true;
    UpdateWatch(s, *state);
}

void SendShutDown(SOCKET s) {
    if (SocketState* state = Find(s)) state->sendShutdown = true;
}

bool IsSendShutDown(SOCKET s) {
    const SocketState* state = Find(s);
    return state != nullptr && state->sendShutdown;
}

void Received(SOCKET s, int failure) {
    SocketState* state = Find(s);
    if (state == nullptr) return;
    // A reset taken by the program's own read still ends with FD_CLOSE
    // carrying it.
    if (failure != 0) state->closeError = failure;
    if (state->phase == Phase::Connected && !state->readArmed) {
        state->readArmed = true;
        UpdateWatch(s, *state);
    }
}

bool HasNotifications(SOCKET s) {
    const SocketState* state = Find(s);
    return state != nullptr && state->events != 0;
}

void SocketClosed(SOCKET s) {
    SocketState* state = Find(s);
    if (state == nullptr) return;
    if (state->host != nullptr) state->host->Unwatch(s);
    States().erase(s);
}

}  // namespace notify

// ---------------------------------------------------------------- registration and delivery

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
    unsigned long nonBlocking = 1;
    if (ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking) != 0) return SOCKET_ERROR;
    state.host = host;
    state.events = events;
    // Every registration re-arms FD_READ: data already waiting is announced at once.
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
