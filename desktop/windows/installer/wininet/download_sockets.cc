#include "desktop/windows/installer/wininet/download_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <map>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/threading/lock.h"

namespace installer::internal {

namespace {

// Socket handles are small multiples of four; a process of this kind holds
// far fewer handles than this.
constexpr uintptr_t kLastHandleValue = 65536;
// Servers a process talks to are few; the map stays small.
constexpr size_t kMaxServers = 64;

base::Lock& AddressesLock() {
  static base::Lock* lock = new base::Lock();
  return *lock;
}

// Host names (in lower case) and the address each was last reached at.
std::map<std::wstring, std::wstring>& Addresses() {
  static auto* addresses = new std::map<std::wstring, std::wstring>();
  return *addresses;
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

// Whether |value| is a stream socket connected to |address|:|port|.
bool ConnectedTo(uintptr_t value, const std::wstring& address, uint16_t port) {
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
  wchar_t text[INET6_ADDRSTRLEN] = {};
  uint16_t peer_port = 0;
  if (peer.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&peer);
    if (!InetNtopW(AF_INET, &in->sin_addr, text, INET6_ADDRSTRLEN))
      return false;
    peer_port = ntohs(in->sin_port);
  } else if (peer.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&peer);
    if (!InetNtopW(AF_INET6, &in6->sin6_addr, text, INET6_ADDRSTRLEN))
      return false;
    peer_port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  return peer_port == port && address == text;
}

}  // namespace

void NoteServerAddress(std::wstring_view host, std::wstring_view address) {
  if (host.empty() || address.empty())
    return;
  base::AutoLock hold(AddressesLock());
  std::map<std::wstring, std::wstring>& addresses = Addresses();
  if (addresses.size() >= kMaxServers)
    addresses.clear();
  addresses[base::ToLowerASCII(host)] = std::wstring(address);
}

int CancelPendingOperations(std::wstring_view host, uint16_t port) {
  std::wstring address;
  {
    base::AutoLock hold(AddressesLock());
    auto it = Addresses().find(base::ToLowerASCII(host));
    if (it == Addresses().end())
      return 0;
    address = it->second;
  }
  if (!StartWinsock())
    return 0;
  int found = 0;
  for (uintptr_t value = 4; value < kLastHandleValue; value += 4) {
    if (!ConnectedTo(value, address, port))
      continue;
    ++found;
    // Nothing pending is no failure, nor a socket WinInet closed meanwhile.
    if (!CancelIoEx(reinterpret_cast<HANDLE>(value), nullptr) &&
        GetLastError() != ERROR_NOT_FOUND && GetLastError() != ERROR_INVALID_HANDLE)
      PLOG(WARNING) << "Could not cancel what is pending on a download's socket";
  }
  return found;
}

}  // namespace installer::internal
