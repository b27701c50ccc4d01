#include "desktop/windows/installer/wininet/download_sockets.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
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

std::atomic<bool> g_wininet_names_sockets{false};

base::Lock& RegistryLock() {
  static base::Lock* lock = new base::Lock();
  return *lock;
}

// Host names (in lower case) and the address each was last reached at.
std::map<std::wstring, std::wstring>& Addresses() {
  static auto* addresses = new std::map<std::wstring, std::wstring>();
  return *addresses;
}

// The sockets that running requests claimed, and their requests.
std::map<SocketId, const void*>& Claims() {
  static auto* claims = new std::map<SocketId, const void*>();
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

// The address text and port of |address|; false for other families.
bool AddressText(const sockaddr_storage& address, std::wstring* text, uint16_t* port) {
  wchar_t buffer[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&address);
    if (!InetNtopW(AF_INET, &in->sin_addr, buffer, INET6_ADDRSTRLEN))
      return false;
    *port = ntohs(in->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&address);
    if (!InetNtopW(AF_INET6, &in6->sin6_addr, buffer, INET6_ADDRSTRLEN))
      return false;
    *port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  *text = buffer;
  return true;
}

// The local port of the stream socket |value|; 0 when it is none.
uint16_t LocalPort(uintptr_t value) {
  const SOCKET socket = static_cast<SOCKET>(value);
  int type = 0;
  int length = sizeof(type);
  if (getsockopt(socket, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0 ||
      type != SOCK_STREAM) {
    return 0;
  }
  sockaddr_storage local = {};
  length = sizeof(local);
  std::wstring text;
  uint16_t port = 0;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      !AddressText(local, &text, &port)) {
    return 0;
  }
  return port;
}

// Whether |value| is a stream socket connected to |address|:|port|; its
// local port into |local_port|.
bool ConnectedTo(uintptr_t value, std::wstring_view address, uint16_t port, uint16_t* local_port) {
  *local_port = LocalPort(value);
  if (*local_port == 0)
    return false;
  sockaddr_storage peer = {};
  int length = sizeof(peer);
  std::wstring text;
  uint16_t peer_port = 0;
  return getpeername(static_cast<SOCKET>(value), reinterpret_cast<sockaddr*>(&peer), &length) ==
             0 &&
         AddressText(peer, &text, &peer_port) && peer_port == port && text == address;
}

void Cancel(uintptr_t value) {
  // Nothing pending is no failure, nor a socket WinInet closed meanwhile.
  if (!CancelIoEx(reinterpret_cast<HANDLE>(value), nullptr) && GetLastError() != ERROR_NOT_FOUND &&
      GetLastError() != ERROR_INVALID_HANDLE) {
    PLOG(WARNING) << "Could not cancel what is pending on a download's socket";
  }
}

}  // namespace

std::vector<SocketId> SocketsConnectedTo(std::wstring_view address, uint16_t port) {
  std::vector<SocketId> found;
  if (address.empty() || !StartWinsock())
    return found;
  for (uintptr_t value = 4; value < kLastHandleValue; value += 4) {
    uint16_t local_port = 0;
    if (ConnectedTo(value, address, port, &local_port))
      found.push_back({value, local_port});
  }
  return found;
}

SocketId ReportedSocket(void* request) {
  INTERNET_DIAGNOSTIC_SOCKET_INFO info = {};
  DWORD size = sizeof(info);
  if (!InternetQueryOptionW(request, INTERNET_OPTION_DIAGNOSTIC_SOCKET_INFO, &info, &size) ||
      info.Socket == 0 || !StartWinsock()) {
    return SocketId();
  }
  const uint16_t local_port = LocalPort(info.Socket);
  if (local_port == 0)
    return SocketId();
  g_wininet_names_sockets.store(true, std::memory_order_relaxed);
  return {info.Socket, local_port};
}

bool WinInetNamesSockets() { return g_wininet_names_sockets.load(std::memory_order_relaxed); }

void ClaimSocket(SocketId id, const void* owner) {
  base::AutoLock hold(RegistryLock());
  Claims()[id] = owner;
}

void ReleaseSockets(const void* owner) {
  base::AutoLock hold(RegistryLock());
  std::map<SocketId, const void*>& claims = Claims();
  for (auto it = claims.begin(); it != claims.end();)
    it = it->second == owner ? claims.erase(it) : std::next(it);
}

void NoteServerAddress(std::wstring_view host, std::wstring_view address) {
  if (host.empty() || address.empty())
    return;
  base::AutoLock hold(RegistryLock());
  std::map<std::wstring, std::wstring>& addresses = Addresses();
  if (addresses.size() >= kMaxServers)
    addresses.clear();
  addresses[base::ToLowerASCII(host)] = std::wstring(address);
}

bool CancelPendingOperations(SocketId id) {
  if (!id.known() || !StartWinsock() || LocalPort(id.value) != id.local_port)
    return false;
  Cancel(id.value);
  return true;
}

int CancelUnclaimedOperations(std::wstring_view host, uint16_t port) {
  std::wstring address;
  {
    base::AutoLock hold(RegistryLock());
    auto it = Addresses().find(base::ToLowerASCII(host));
    if (it != Addresses().end())
      address = it->second;
    else if (host.find_first_not_of(L"0123456789.") == std::wstring_view::npos)
      address = host;  // An IPv4 address names itself.
    else
      return 0;
  }
  const std::vector<SocketId> sockets = SocketsConnectedTo(address, port);
  int cancelled = 0;
  for (const SocketId& id : sockets) {
    {
      base::AutoLock hold(RegistryLock());
      if (Claims().count(id) != 0)
        continue;
    }
    ++cancelled;
    Cancel(id.value);
  }
  return cancelled;
}

}  // namespace installer::internal
