// The sockets behind a download's requests. Closing a WinInet request handle
// whose operation is still pending does not end that operation everywhere:
// some WinInet versions keep waiting for the rest of a read, or of the
// headers, for as long as the server sends a byte now and then, and the
// socket stays open with it. For a request that has not let go once its
// handle is closed, the downloader cancels what is pending on the sockets
// of this process connected to the request's server, which makes WinInet
// end the operation and close the socket at once. A socket of another
// download to the same server that has an operation pending then loses it
// too, which that download takes as a lost connection and resumes; idle
// sockets have nothing to cancel.
#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace installer::internal {

// Remembers that |host| (as the address names it) was reached at |address|
// (as WinInet reports it on connecting), for every download of the process:
// a request may reuse a connection that another one opened.
void NoteServerAddress(std::wstring_view host, std::wstring_view address);

// Cancels every operation pending on the sockets of this process connected
// to |host|:|port|; nothing when |host| was never reached (for example
// through a proxy). Returns how many sockets it looked at.
int CancelPendingOperations(std::wstring_view host, uint16_t port);

}  // namespace installer::internal

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_DOWNLOAD_SOCKETS_H_
