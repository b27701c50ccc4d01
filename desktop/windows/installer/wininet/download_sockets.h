// The sockets behind a download's requests. Closing a WinInet request handle
// whose operation is still pending does not end that operation everywhere:
// some WinInet versions keep waiting for the rest of a read, or of the
// headers, for as long as the server sends a byte now and then, and the
// socket stays open with it. The downloader finds the socket WinInet just
// connected (by its peer, among this process's sockets) and, when it gives
// a request up, cancels what is pending on it, which makes WinInet let go
// of the request and close the socket at once. Where closing the handle
// already ended the operation, the socket is gone by then and nothing is
// done.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace installer::internal {

// A socket as it was when found: a handle value may be closed and given to
// another object later, so it is only used while its ends are the same.
struct DownloadSocket {
  uintptr_t socket = 0;
  uint16_t local_port = 0;
  std::wstring peer;
  uint16_t peer_port = 0;
};

// The stream sockets of this process connected to |peer_address| (as
// WinInet reports it on connecting) that no download has claimed yet; they
// are claimed for the caller until released.
std::vector<DownloadSocket> ClaimNewSockets(std::wstring_view peer_address);

// Cancels every operation pending on those of |sockets| that are still the
// sockets they were; the others are gone: they are released and removed.
void CancelPendingOperations(std::vector<DownloadSocket>* sockets);

// Releases the claims of |sockets|.
void ReleaseSockets(const std::vector<DownloadSocket>& sockets);

}  // namespace installer::internal

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
