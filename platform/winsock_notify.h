#pragma once
// The asynchronous-selection part of the WinSock-style layer: what it keeps of
// each socket beyond the descriptor, and the notifications it produces from
// that (WSAAsyncSelect and AsyncSelectHost::SocketReady, declared with the
// other calls in winsock.h, are carried out in winsock_notify.cpp).
//
// The socket calls in winsock.cpp tell this part what they did through the
// functions below, so that its re-arming rules follow the program's calls. A
// socket is known here once socket() made it or WSAAsyncSelect registered it,
// until closesocket(); for any other descriptor every function below does
// nothing and every question answers false.

#include "platform/winsock.h"

namespace quillon::winsock::notify {

// socket() made `s`: known from now on, not yet connecting.
void SocketOpened(SOCKET s);
bool IsKnown(SOCKET s);

// A connect that has finished at once (`finished`) or is under way. A
// registered socket hears of the outcome through FD_CONNECT either way.
void ConnectStarted(SOCKET s, bool finished);
// A connect that failed at once with `error` (a WinSock number). True when
// the socket is registered for notifications: the failure is then kept for
// FD_CONNECT, and the connect itself answers WSAEWOULDBLOCK.
bool DeferConnectFailure(SOCKET s, int error);

// A send answered WSAEWOULDBLOCK: FD_WRITE comes once the socket can take
// data again.
void SendWouldBlock(SOCKET s);
// shutdown() of the sending direction was called, so that a later send tells
// its own shutdown from the peer's reset.
void SendShutDown(SOCKET s);
bool IsSendShutDown(SOCKET s);

// recv() was called, which re-arms FD_READ. `failure` is the WinSock number
// of a reset the call met (0 for none); FD_CLOSE carries it later.
void Received(SOCKET s, int failure);

// True while WSAAsyncSelect has notifications registered for the socket.
bool HasNotifications(SOCKET s);

// closesocket(): the host stops watching and the socket is forgotten.
void SocketClosed(SOCKET s);

}  // namespace quillon::winsock::notify
