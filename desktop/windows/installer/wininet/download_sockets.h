// The sockets behind a download's requests. Closing a WinInet request handle
// whose operation is still pending does not end that operation everywhere:
// some WinInet versions keep waiting for the rest of a read, or of the
// headers, for as long as the server sends a byte now and then, and the
// socket stays open with it. For a request that has not let go once its
// handle is closed, the downloader cancels what is pending on the request's
// own socket, which makes WinInet end the operation and close the socket at
// once.
//
// A request's own socket is the one WinInet names for it
// (INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO), or, where WinInet names none,
// the one that got connected to the request's server between the request's
// "connecting" and "connected" notices, when exactly one did. Each running
// request claims its socket for as long as it is open. A request whose
// socket is not known (it took an idle connection from WinInet's pool, or
// another connection to the same server was made in the same moment) has
// what is pending cancelled on every socket of the process connected to its
// server that no running request claims: its own, idle pooled ones (which
// have nothing pending), and those of other requests whose sockets are not
// known either. docs/platform.md says where this is needed.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace installer::internal {

// One socket for as long as it lives: a later socket may get the same
// handle value, but not at the same time the same local port.
struct SocketId {
  uintptr_t value = 0;
  uint16_t local_port = 0;

  bool known() const { return value != 0; }
  auto operator<=>(const SocketId&) const = default;
};

// The stream sockets of this process connected to |address| (as WinInet
// reports a server's address) and |port|.
std::vector<SocketId> SocketsConnectedTo(std::wstring_view address, uint16_t port);

// The socket WinInet names for |request| (an HINTERNET), unknown where it
// names none.
SocketId ReportedSocket(void* request);
// Whether WinInet named a request's socket once in this process: the
// sockets need not be looked for then.
bool WinInetNamesSockets();

// Marks |id| as the socket of the running request |owner| (an HINTERNET);
// ReleaseSockets when the request has gone.
void ClaimSocket(SocketId id, const void* owner);
void ReleaseSockets(const void* owner);

// Remembers that |host| (as the address names it) was reached at |address|
// (as WinInet reports it on connecting), for every download of the process:
// a request may take over a connection that another one opened.
void NoteServerAddress(std::wstring_view host, std::wstring_view address);

// Cancels what is pending on |id| while it is still that socket; whether it
// was.
bool CancelPendingOperations(SocketId id);
// Cancels what is pending on the sockets of this process connected to
// |host|:|port| that no running request claims; nothing when |host| was
// never reached (for example through a proxy). Returns on how many it did.
int CancelUnclaimedOperations(std::wstring_view host, uint16_t port);

}  // namespace installer::internal

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
