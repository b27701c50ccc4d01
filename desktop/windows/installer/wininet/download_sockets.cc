#include "desktop/windows/installer/wininet/download_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>

#include "base/logging.h"
#include "base/threading/lock.h"

namespace installer::internal {

namespace {

// Socket handles are small multiples of four; a process of this kind holds
// far fewer handles than this.
constexpr uintptr_t kLastHandleValue = 65536;

base::Lock& ClaimsLock() {
  static base::Lock* lock = new base::Lock();
  return *lock;
}

// Claimed sockets of every download of the process.
std::vector<DownloadSocket>& Claims() {
  static auto* claims = new std::vector<DownloadSocket>();
  return *claims;
}

// Counted by Winsock per call; the download machinery needs it for as long
// as the process runs, so it is never undone.
bool StartWinsock() {
  static const bool started = [] {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0)
      LOG(WARNING) << "Could not start Winsock to find a download's sockets: " << error;
    return error == 0;
  }();
  return started;
}

bool SameSocket(const DownloadSocket& a, const DownloadSocket& b) {
  return a.socket == b.socket && a.local_port == b.local_port && a.peer_port == b.peer_port &&
         a.peer == b.peer;
}

// What |value| is now, when it is a connected stream socket.
bool Describe(uintptr_t value, DownloadSocket* out) {
  const SOCKET socket = static_cast<SOCKET>(value);
  int type = 0;
  int length = sizeof(type);
  if (getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0 ||
      type != SOCK_STREAM) {
    return false;
  }
  sockaddr_storage peer = {};
  length = sizeof(peer);
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
    return false;
  sockaddr_storage local = {};
  length = sizeof(local);
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0)
    return false;
  wchar_t text[INET6_ADDRSTRLEN] = {};
  if (peer.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
    if (!InetNtopW(AF_INET, &in->sin_addr, text, INET6_ADDRSTRLEN))
      return false;
    out->peer_port = ntohs(in->sin_port);
    out->local_port = ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
  } else if (peer.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    if (!InetNtopW(AF_INET6, &in6->sin6_addr, text, INET6_ADDRSTRLEN))
      return false;
    out->peer_port = ntohs(in6->sin6_port);
    out->local_port = ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
  } else {
    return false;
  }
  out->socket = value;
  out->peer = text;
  return true;
}

bool IsClaimed(const DownloadSocket& socket) {
  const std::vector<DownloadSocket>& claims = Claims();
  return std::any_of(claims.begin(), claims.end(),
                     [&](const DownloadSocket& claim) { return SameSocket(claim, socket); });
}

}  // namespace

std::vector<DownloadSocket> ClaimNewSockets(std::wstring_view peer_address) {
  std::vector<DownloadSocket> found;
  if (peer_address.empty() || !StartWinsock())
    return found;
  base::AutoLock hold(ClaimsLock());
  for (uintptr_t value = 4; value < kLastHandleValue; value += 4) {
    DownloadSocket socket;
    if (!Describe(value, &socket) || socket.peer != peer_address || IsClaimed(socket))
      continue;
    Claims().push_back(socket);
    found.push_back(std::move(socket));
  }
  return found;
}

void CancelPendingOperations(std::vector<DownloadSocket>* sockets) {
  std::vector<DownloadSocket> gone;
  for (auto it = sockets->begin(); it != sockets->end();) {
    DownloadSocket now;
    if (!Describe(it->socket, &now) || !SameSocket(now, *it)) {
      gone.push_back(std::move(*it));
      it = sockets->erase(it);
      continue;
    }
    // Nothing pending is no failure.
    if (!CancelIoEx(reinterpret_cast<HANDLE>(it->socket), nullptr) &&
        GetLastError() != ERROR_NOT_FOUND) {
      PLOG(WARNING) << "Could not cancel what is pending on a given-up download's socket";
    }
    ++it;
  }
  ReleaseSockets(gone);
}

void ReleaseSockets(const std::vector<DownloadSocket>& sockets) {
  if (sockets.empty())
    return;
  base::AutoLock hold(ClaimsLock());
  std::vector<DownloadSocket>& claims = Claims();
  for (const DownloadSocket& socket : sockets) {
    auto it = std::find_if(claims.begin(), claims.end(),
                           [&](const DownloadSocket& claim) { return SameSocket(claim, socket); });
    if (it != claims.end())
      claims.erase(it);
  }
}

}  // namespace installer::internal
