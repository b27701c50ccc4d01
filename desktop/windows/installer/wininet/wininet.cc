#include "desktop/windows/installer/wininet/wininet.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <utility>

#include "base/bind.h"
#include "base/logging.h"
#include "base/ref_counted_thread_safe.h"
#include "base/string_number_conversions.h"
#include "base/string_util.h"
#include "base/threading/atomic_flag.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/plain_thread.h"
#include "base/threading/waitable_event.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/url_credentials.h"
#include "desktop/windows/installer/wininet/download_sockets.h"
#include "desktop/windows/installer/wininet/scoped_internet_handle.h"
#include "desktop/windows/installer/wininet/wininet_http_util.h"

namespace installer {

namespace {

// Reads grow while the data is there at once, so that the per-read cost of
// WinInet's asynchronous interface (its status callbacks, its locks) and of
// the progress posts is spread over much data on a fast network; a read that
// has to wait starts small again, because an asynchronous read may wait
// until its whole size arrived, and a slow connection must still show its
// bytes to the stall watchdog. Progress is reported after every block.
constexpr DWORD kMinReadSize = 16 * 1024;
constexpr DWORD kFirstReadSize = 64 * 1024;
constexpr DWORD kReadBufferSize = 1024 * 1024;

// wininet.h has no name for it.
constexpr DWORD kRangeNotSatisfiable = 416;

// Bounds the wait of the cleanup thread for WinInet to let go of a session:
// a session whose handles were already closed elsewhere must not keep the
// thread, and with it the downloader's destruction, waiting forever.
constexpr int kCleanupWaitMs = 5000;

// How long a closed request's pending operation is cancelled again and
// again before the downloader goes on without it.
constexpr base::TimeSpan kEndPendingWait = base::TimeSpan::FromSeconds(2);

WinInetDownloader::CredentialPrompt g_credential_prompt = nullptr;

std::wstring& ProxyForTesting() {
  static std::wstring* proxy = new std::wstring();
  return *proxy;
}

// Every error that means the connection is gone (or never came): WinInet's
// own codes, and the socket and system codes that an asynchronous read ends
// with when the peer resets or the network goes away.
bool IsConnectivityError(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_TIMEOUT:              // 12002
    case ERROR_INTERNET_NAME_NOT_RESOLVED:    // 12007
    case ERROR_INTERNET_CANNOT_CONNECT:       // 12029
    case ERROR_INTERNET_CONNECTION_ABORTED:   // 12030
    case ERROR_INTERNET_CONNECTION_RESET:     // 12031
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:  // 12152
    case ERROR_INTERNET_DISCONNECTED:         // 12163
    case WSAENETDOWN:                         // 10050
    case WSAENETUNREACH:                      // 10051
    case WSAENETRESET:                        // 10052
    case WSAECONNABORTED:                     // 10053
    case WSAECONNRESET:                       // 10054
    case WSAENOTCONN:                         // 10057
    case WSAESHUTDOWN:                        // 10058
    case WSAETIMEDOUT:                        // 10060
    case WSAECONNREFUSED:                     // 10061
    case WSAEHOSTDOWN:                        // 10064
    case WSAEHOSTUNREACH:                     // 10065
    case ERROR_NETNAME_DELETED:               // 64
    case ERROR_SEM_TIMEOUT:                   // 121
    case ERROR_CONNECTION_REFUSED:            // 1225
    case ERROR_NETWORK_UNREACHABLE:           // 1231
    case ERROR_HOST_UNREACHABLE:              // 1232
    case ERROR_CONNECTION_ABORTED:            // 1236
    // What an operation ends with when the downloader cancels it on a
    // socket given up (download_sockets.h): another download of the
    // process whose socket cannot be told may meet it too.
    case ERROR_OPERATION_ABORTED:  // 995
      return true;
    default: return false;
  }
}

int64_t NowValue() { return base::MonotonicTime::Now().ToInternalValue(); }

#if defined(VELMO_TEST_NETWORK_SEAMS)
// Test builds: installer processes that a test starts take their retry
// pause and stall time-out from the environment, so that the real retry
// count can be exercised in seconds.
void ApplyTestSeam(const wchar_t* name, base::TimeSpan* value) {
  wchar_t text[32];
  const DWORD length = GetEnvironmentVariableW(name, text, 32);
  if (length == 0 || length >= 32)
    return;
  int ms = 0;
  if (base::StringToInt(base::WideToUTF8(std::wstring_view(text, length)), &ms) && ms >= 0)
    *value = base::TimeSpan::FromMilliseconds(ms);
}
#endif

// Whether |host| is an IPv4 address (digits and dots: no top-level domain
// is numeric) or an IPv6 one (it holds colons, or is in brackets).
bool IsAddressLiteral(std::wstring_view host) {
  if (host.find_first_of(L":[") != std::wstring_view::npos)
    return true;
  return std::all_of(host.begin(), host.end(),
                     [](wchar_t c) { return c == L'.' || (c >= L'0' && c <= L'9'); });
}

DWORD RunCredentialPrompt(HWND window, HINTERNET request) {
  if (g_credential_prompt)
    return g_credential_prompt(window, request);
  void* data = nullptr;
  return InternetErrorDlg(window, request, ERROR_INTERNET_INCORRECT_PASSWORD,
                          FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                              FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
                          &data);
}

}  // namespace

namespace internal {

// What WinInet's status callback reaches through its context. WinInet may
// call back (and write a pending read's count into the buffer) after the
// downloader stopped or was destroyed, so this lives on, counted, until the
// connection handle is gone: one reference is WinInet's, dropped when the
// connection reports that it is closing, which is its last notification
// (the request, its child, goes first).
class DownloadSession : public base::RefCountedThreadSafe<DownloadSession> {
 public:
  DownloadSession(WinInetDownloader* downloader, uint32_t serial, std::string body)
      : downloader_(downloader),
        serial_(serial),
        body_(std::move(body)),
        connection_closed_(base::WaitableEvent::ResetPolicy::kManual,
                           base::WaitableEvent::InitialState::kNotSignaled),
        read_(std::make_unique<ReadTarget>()) {
    // Reentrant: WinInet may run the callback on the calling thread inside
    // a call made with the lock held.
    InitializeCriticalSection(&lock_);
  }
  DownloadSession(const DownloadSession&) = delete;
  DownloadSession& operator=(const DownloadSession&) = delete;

  class AutoLock {
   public:
    explicit AutoLock(DownloadSession* session) : session_(session) {
      EnterCriticalSection(&session_->lock_);
    }
    AutoLock(const AutoLock&) = delete;
    AutoLock& operator=(const AutoLock&) = delete;
    ~AutoLock() { LeaveCriticalSection(&session_->lock_); }

   private:
    DownloadSession* session_;
  };

  static void CALLBACK StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                      LPVOID info, DWORD info_length);

  // Closes the request and the connection, and the session handle once
  // WinInet has let go of the connection; on the "Wininet Termination"
  // thread, so that the downloader's thread does not wait for WinInet to
  // tear a request down.
  static void Terminate(base::SharedRef<DownloadSession> session, ScopedInternetHandle request,
                        ScopedInternetHandle connection, ScopedInternetHandle internet);

  // Where a read puts its bytes and its count. WinInet may still complete
  // a read of a request that was given up (a stalled one) after its handle
  // was closed, so such a target is kept until the session ends.
  struct ReadTarget {
    std::unique_ptr<char[]> buffer{new char[kReadBufferSize]};
    // The request the pending read belongs to, once retired.
    HINTERNET owner = nullptr;
    // The bytes of the last read that are not yet written.
    DWORD count = 0;
    // The size of the next read.
    DWORD size = kFirstReadSize;
    // What a read is given, and where a read that completes later puts its
    // count: until then it holds the size asked for.
    INTERNET_BUFFERSA request = {};
  };
  // With the lock held, when WinInet reports the current request complete:
  // a pending read's bytes are now in the buffer and its count in the
  // request.
  void TakePendingReadCount(DWORD error) {
    if (!read_pending_)
      return;
    read_pending_ = false;
    read_->count = error == ERROR_SUCCESS ? read_->request.dwBufferLength : 0;
  }
  // With the lock held, before the current request is closed: a read still
  // pending on it keeps its target, and the next request gets a new one.
  void RetirePendingRead() {
    if (!read_pending_)
      return;
    read_->owner = request_.Get();
    retired_reads_.push_back(std::move(read_));
    read_ = std::make_unique<ReadTarget>();
    read_pending_ = false;
  }

  // With the lock held, when WinInet reports |request| closing: its last
  // notice, so a read it had pending will write nothing more.
  void ForgetRetiredReads(HINTERNET request) {
    retired_reads_.erase(std::remove_if(retired_reads_.begin(), retired_reads_.end(),
                                        [&](const std::unique_ptr<ReadTarget>& target) {
                                          return target->owner == request;
                                        }),
                         retired_reads_.end());
  }

  // With the lock held, when |request| is sent to |host|:|port|.
  void AddOpenRequest(HINTERNET request, const std::wstring& host, uint16_t port) {
    open_requests_.push_back({request, host, port});
  }
  // With the lock held, when |request| reports closing: WinInet let go of
  // it and of what it had pending, and of its socket.
  void ForgetOpenRequest(HINTERNET request) {
    open_requests_.erase(
        std::remove_if(open_requests_.begin(), open_requests_.end(),
                       [&](const OpenRequest& entry) { return entry.handle == request; }),
        open_requests_.end());
    internal::ReleaseSockets(request);
    request_closed_.Signal();
  }
  // On WinInet's thread, when |request| begins connecting to |address| and
  // when it is connected there: its own socket is the one WinInet names, or
  // the one that got connected there in between (download_sockets.h).
  void NoteConnecting(HINTERNET request, const std::wstring& address) {
    uint16_t port = 0;
    if (!FindOpenRequest(request, &port) || internal::WinInetNamesSockets())
      return;
    // Looked for outside the lock, which WinInet's other callbacks need.
    std::vector<internal::SocketId> before = internal::SocketsConnectedTo(address, port);
    AutoLock lock(this);
    for (OpenRequest& entry : open_requests_) {
      if (entry.handle == request) {
        entry.before = std::move(before);
        entry.connecting = true;
      }
    }
  }
  void NoteConnected(HINTERNET request, const std::wstring& address) {
    uint16_t port = 0;
    std::vector<internal::SocketId> before;
    bool connecting = false;
    {
      AutoLock lock(this);
      for (OpenRequest& entry : open_requests_) {
        if (entry.handle == request) {
          port = entry.port;
          before = std::move(entry.before);
          connecting = entry.connecting;
          entry.connecting = false;
          internal::NoteServerAddress(entry.host, address);
        }
      }
    }
    if (port == 0)
      return;
    internal::SocketId socket = internal::ReportedSocket(request);
    if (!socket.known() && connecting) {
      std::vector<internal::SocketId> now = internal::SocketsConnectedTo(address, port);
      std::vector<internal::SocketId> added;
      for (const internal::SocketId& id : now) {
        if (std::find(before.begin(), before.end(), id) == before.end())
          added.push_back(id);
      }
      if (added.size() == 1)
        socket = added[0];
    }
    if (!socket.known()) {
      VLOG(1) << "The socket of a download's request to " << address << " is not known";
      return;
    }
    internal::ClaimSocket(socket, request);
    AutoLock lock(this);
    for (OpenRequest& entry : open_requests_) {
      if (entry.handle == request)
        entry.socket = socket;
    }
  }
  // With the lock held, before |request| is closed: the socket WinInet
  // names for it, where its socket is not known yet (it took a connection
  // from WinInet's pool).
  void LearnReportedSocket(HINTERNET request) {
    for (OpenRequest& entry : open_requests_) {
      if (entry.handle != request || entry.socket.known())
        continue;
      entry.socket = internal::ReportedSocket(request);
      if (entry.socket.known())
        internal::ClaimSocket(entry.socket, request);
    }
  }
  // With the lock not held, after |requests| (all of them when empty) were
  // closed: one that has not reported closing still has an operation
  // pending, which would keep its socket for as long as the server sends a
  // byte now and then; what is pending on its socket is cancelled
  // (download_sockets.h), until WinInet lets go of it or a few seconds
  // passed. WinInet sends a request again over a new connection when the
  // one it took from its pool fails, so once may not be enough.
  void EndPendingOperations(const std::vector<HINTERNET>& requests) {
    const base::MonotonicTime give_up = base::MonotonicTime::Now() + kEndPendingWait;
    // Where closing the handle ends the operation, as it should, it ends
    // within the first wait, and nothing is cancelled.
    bool first = true;
    for (;;) {
      std::vector<OpenRequest> pending;
      {
        AutoLock lock(this);
        for (const OpenRequest& entry : open_requests_) {
          if (requests.empty() ||
              std::find(requests.begin(), requests.end(), entry.handle) != requests.end()) {
            pending.push_back(entry);
          }
        }
        request_closed_.Reset();
      }
      if (pending.empty())
        return;
      const base::TimeSpan left = give_up - base::MonotonicTime::Now();
      if (left <= base::TimeSpan()) {
        LOG(WARNING) << "WinINET kept an operation of a closed request pending";
        return;
      }
      if (!first) {
        for (const OpenRequest& entry : pending) {
          if (!internal::CancelPendingOperations(entry.socket) && !entry.socket.known())
            internal::CancelUnclaimedOperations(entry.host, entry.port);
        }
      }
      first = false;
      request_closed_.TimedWait(std::min(left, base::TimeSpan::FromMilliseconds(100)));
    }
  }

  // Each connection holds a reference that its closing notice drops.
  void AddConnection(HINTERNET connection) {
    AddRef();
    base::AutoLock hold(connections_lock_);
    // A given-up attempt's connection may have closed before the next one
    // opens: the session runs again.
    if (connections_.empty())
      connection_closed_.Reset();
    connections_.push_back(connection);
  }
  // Whether |handle| was one of the connections; the last one signals that
  // WinInet let go of the session.
  bool ForgetConnection(HINTERNET handle) {
    base::AutoLock hold(connections_lock_);
    auto it = std::find(connections_.begin(), connections_.end(), handle);
    if (it == connections_.end())
      return false;
    connections_.erase(it);
    if (connections_.empty())
      connection_closed_.Signal();
    return true;
  }

  WinInetDownloader* downloader_;  // Null once detached.
  const uint32_t serial_;
  // WinInet reads a POST body until the send completes.
  const std::string body_;
  base::AtomicFlag cancelled_;
  base::WaitableEvent connection_closed_;
  ScopedInternetHandle internet_;
  ScopedInternetHandle connection_;
  ScopedInternetHandle request_;
  // Where the current connection leads.
  std::wstring connected_host_;
  uint16_t connected_port_ = 0;
  bool ever_connected_ = false;
  std::unique_ptr<ReadTarget> read_;
  bool read_pending_ = false;
  std::vector<std::unique_ptr<ReadTarget>> retired_reads_;
  // A request WinInet has not reported closed.
  struct OpenRequest {
    HINTERNET handle = nullptr;
    // Its server, as its address names it.
    std::wstring host;
    uint16_t port = 0;
    // While it connects: the sockets already connected to the server.
    std::vector<internal::SocketId> before;
    bool connecting = false;
    // Its own socket, once known.
    internal::SocketId socket;
  };
  // With the lock not held: whether |request| is open, and its port.
  bool FindOpenRequest(HINTERNET request, uint16_t* port) {
    AutoLock lock(this);
    for (const OpenRequest& entry : open_requests_) {
      if (entry.handle == request) {
        *port = entry.port;
        return true;
      }
    }
    return false;
  }
  std::vector<OpenRequest> open_requests_;
  // Signalled whenever one of them reports closing.
  base::WaitableEvent request_closed_{base::WaitableEvent::ResetPolicy::kAutomatic,
                                      base::WaitableEvent::InitialState::kNotSignaled};
  // Requests and connections of attempts given up, each request before its
  // connection, until they are closed outside the lock.
  std::vector<ScopedInternetHandle> given_up_;
  base::WeakRef<WinInetDownloader> weak_downloader_;
  // Held while the proxy-credential dialog uses the request handle, which
  // may stay open for as long as the user likes: the termination takes it
  // before it closes the handles, and nothing else closes the request of a
  // prompt (the download waits for the answer). Not the session's lock,
  // which WinInet's callbacks and the stall watchdog need meanwhile.
  base::Lock prompt_lock_;

 private:
  friend class base::RefCountedThreadSafe<DownloadSession>;
  ~DownloadSession() { DeleteCriticalSection(&lock_); }

  CRITICAL_SECTION lock_;
  // Not the session's lock: a connection's closing notice may come while
  // another thread holds that one and waits for the close.
  base::Lock connections_lock_;
  // The connections WinInet has not yet reported closed, as it passes them
  // to the callback (also after their holder let them go).
  std::vector<HINTERNET> connections_;
};

void CALLBACK DownloadSession::StatusCallback(HINTERNET handle, DWORD_PTR context, DWORD status,
                                              LPVOID info, DWORD info_length) {
  auto* session = reinterpret_cast<DownloadSession*>(context);
  if (!session)
    return;
  VLOG(2) << "InternatStatusCallback called with code " << status;
  if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    // The connection's reference; nothing of |session| may be touched after
    // it.
    if (session->ForgetConnection(handle)) {
      session->Release();
      return;
    }
    AutoLock lock(session);
    session->ForgetRetiredReads(handle);
    session->ForgetOpenRequest(handle);
    return;
  }
  // Also after a cancellation: the socket of a request that the session's
  // end closes may have to be found.
  if (status == INTERNET_STATUS_CONNECTING_TO_SERVER) {
    session->NoteConnecting(handle, StatusText(info, info_length));
    return;
  }
  if (status == INTERNET_STATUS_CONNECTED_TO_SERVER)
    session->NoteConnected(handle, StatusText(info, info_length));
  // The callback stays registered after a cancellation: the connection's
  // closing notice, which releases WinInet's reference, must still arrive.
  if (session->cancelled_.IsSet()) {
    VLOG(1) << "Wininet request cancelled. ignoring the callback.";
    return;
  }
  if (status != INTERNET_STATUS_CONNECTED_TO_SERVER && status != INTERNET_STATUS_REQUEST_COMPLETE)
    return;
  const std::wstring server = status == INTERNET_STATUS_CONNECTED_TO_SERVER
                                  ? StatusText(info, info_length)
                                  : std::wstring();
  AutoLock lock(session);
  WinInetDownloader* downloader = session->downloader_;
  // A request closed for a resumption may still report; only the current
  // one counts.
  if (!downloader || session->cancelled_.IsSet() ||
      (status != INTERNET_STATUS_CONNECTED_TO_SERVER && handle != session->request_.Get())) {
    return;
  }
  switch (status) {
    case INTERNET_STATUS_CONNECTED_TO_SERVER:
      if (downloader->report_)
        downloader->report_->OnServerIp(base::WideToUTF8(server));
      break;
    case INTERNET_STATUS_REQUEST_COMPLETE: {
      const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
      const DWORD error = result ? result->dwError : ERROR_INTERNET_INTERNAL_ERROR;
      session->TakePendingReadCount(error);
      downloader->OnRequestComplete(error);
      break;
    }
  }
}

void DownloadSession::Terminate(base::SharedRef<DownloadSession> session,
                                ScopedInternetHandle request, ScopedInternetHandle connection,
                                ScopedInternetHandle internet) {
  std::vector<ScopedInternetHandle> given_up;
  {
    AutoLock lock(session.get());
    given_up.swap(session->given_up_);
  }
  {
    base::AutoLock hold(session->prompt_lock_);
    for (ScopedInternetHandle& handle : given_up)
      handle.Reset();
    request.Reset();
    connection.Reset();
  }
  // An operation still pending would otherwise keep the socket, and the
  // session, for as long as the server sends a byte now and then.
  // Every request of the session is closed now.
  session->EndPendingOperations({});
  LOG(INFO) << "Waiting for WinINET to finish";
  if (!session->connection_closed_.TimedWait(base::TimeSpan::FromMilliseconds(kCleanupWaitMs))) {
    LOG(WARNING) << "WinINET did not release the connection in time; closing the session";
    InternetSetStatusCallbackW(internet.Get(), nullptr);
  }
  internet.Reset();
}

}  // namespace internal

using internal::ContentLength;
using internal::CrackedUrl;
using internal::CrackUrl;
using internal::DownloadSession;
using internal::HasHeaderLines;
using internal::HasHttp11StatusLine;
using internal::QueryContentLength;
using internal::QueryContentRange;
using internal::QueryCustomHeader;
using internal::QueryUnsatisfiedRangeTotal;
using internal::ResolveRedirect;

WinInetDownloader::WinInetDownloader(FetcherUIDelegate* ui, PackageFetcherDelegate* progress)
    : ui_(ui),
      progress_(progress),
      retry_delay_(base::TimeSpan::FromMilliseconds(kRetryDelayMs)),
      stall_timeout_(base::TimeSpan::FromMilliseconds(kStallTimeoutMs)) {
  CHECK(ui_) << "The downloader needs a UI delegate";
#if defined(VELMO_TEST_NETWORK_SEAMS)
  ApplyTestSeam(L"VELMO_TEST_RETRY_DELAY_MS", &retry_delay_);
  ApplyTestSeam(L"VELMO_TEST_STALL_TIMEOUT_MS", &stall_timeout_);
#endif
}

WinInetDownloader::~WinInetDownloader() {
  CloseSession();
  if (cleanup_thread_)
    cleanup_thread_->Join();
}

// static
std::wstring WinInetDownloader::GetUserAgent() {
  return L"Velmo NetInstaller/" + base::UTF8ToWide(GetVersionString());
}

// static
bool WinInetDownloader::IsHostAllowed(std::wstring_view host,
                                      const std::vector<std::wstring>& allowed) {
  if (allowed.empty())
    return true;
  // An entry allows its host itself and every host below it, after a dot:
  // "localhost" does not allow "notlocalhost", nor "velmo.example"
  // "evilvelmo.example". A leading dot in an entry changes nothing. Host
  // names have no case (DNS), and a server may name one in any case in a
  // redirect. An address has nothing below it: "a.127.0.0.1" is a name,
  // which any resolver may map anywhere.
  for (std::wstring_view entry : allowed) {
    while (!entry.empty() && entry.front() == L'.')
      entry.remove_prefix(1);
    if (entry.empty() || host.size() < entry.size() ||
        !base::EndsWith(host, entry, base::CompareCase::INSENSITIVE_ASCII)) {
      continue;
    }
    if (host.size() == entry.size())
      return true;
    if (host[host.size() - entry.size() - 1] == L'.' && !IsAddressLiteral(entry))
      return true;
  }
  return false;
}

// static
base::TimeSpan WinInetDownloader::NextStallCheck(base::TimeSpan timeout, base::TimeSpan idle,
                                                 bool waiting) {
  // While a retry or an answer is awaited no request runs, and the next
  // one cannot be stalled before a whole time-out from now.
  const int64_t left = waiting ? timeout.InMicroseconds() : (timeout - idle).InMicroseconds();
  return base::TimeSpan::FromMicroseconds(std::max<int64_t>(left, 1000));
}

// static
void WinInetDownloader::SetCredentialPromptForTesting(CredentialPrompt prompt) {
  g_credential_prompt = prompt;
}

// static
void WinInetDownloader::SetProxyForTesting(const std::wstring& proxy) { ProxyForTesting() = proxy; }

void WinInetDownloader::SetState(State state) {
  state_.store(state, std::memory_order_release);
  VLOG(1) << "Downloader state: " << static_cast<uint32_t>(state);
}

bool WinInetDownloader::Start(const std::wstring& url, const std::string& body, base::Closure done,
                              std::unique_ptr<ResponseWriter> writer,
                              std::unique_ptr<DownloadReport> report) {
  CHECK(writer && report) << "A download needs a writer and a report";
  // A password in the address must reach neither the log nor the report.
  const std::wstring loggable = WithoutCredentials(url);
  LOG(INFO) << "Starting download from " << loggable;
  // One download at a time: a download still running is given up first, so
  // that its callback never meets the new writer.
  if (session_)
    CloseSession();
  writer_ = std::move(writer);
  report_ = std::move(report);
  done_ = std::move(done);
  task_runner_ = base::CurrentTaskRunner::Get();
  url_ = url;
  CHECK(task_runner_) << "The downloader needs a task runner on the starting thread";

  CrackedUrl parts;
  if (!CrackUrl(url_, &parts)) {
    PLOG(ERROR) << "Could not parse URL";
    return FailStart();
  }
  if (!parts.web) {
    LOG(ERROR) << "Attempting to download from an address that is not http or https";
    return FailStart();
  }
  if (loggable != url) {
    LOG(ERROR) << "Attempting to download from an address with a user name or password";
    return FailStart();
  }
  if (!IsHostAllowed(parts.host, allowed_domains_)) {
    LOG(ERROR) << "Attempting to download from a disallowed domain";
    return FailStart();
  }
  secure_ = parts.secure;
  post_ = !body.empty();

  if (cleanup_thread_) {
    VLOG(1) << "Waiting for previous WinINET invocation to terminate.";
    cleanup_thread_->Join();
    cleanup_thread_.reset();
  }

  expected_size_ = 0;
  bytes_received_ = 0;
  best_received_ = 0;
  progress_mark_ = 0;
  progress_time_ = NowValue();
  restarts_ = 0;
  length_known_ = false;
  confirming_ = false;
  range_ignored_ = false;
  redirects_ = 0;
  extra_headers_.clear();
  waiting_ = false;
  // Retries of an earlier, failed download do not count against this one.
  retry_count_ = 0;
  const std::wstring& proxy = ProxyForTesting();
  HINTERNET internet =
      InternetOpenW(GetUserAgent().c_str(),
                    proxy.empty() ? INTERNET_OPEN_TYPE_PRECONFIG : INTERNET_OPEN_TYPE_PROXY,
                    proxy.empty() ? nullptr : proxy.c_str(), nullptr, INTERNET_FLAG_ASYNC);
  if (!internet) {
    PLOG(ERROR) << "Could not open internet";
    return FailStart();
  }
  session_ = base::MakeShared<DownloadSession>(this, ++serial_, body);
  session_->internet_.Reset(internet);
  session_->weak_downloader_ = weak_factory_.GetWeakRef();
  if (InternetSetStatusCallbackW(internet, &DownloadSession::StatusCallback) ==
      INTERNET_INVALID_STATUS_CALLBACK) {
    PLOG(ERROR) << "Could not register the download's status callback";
    CloseSession();
    return FailStart();
  }
  SetTimeOuts(internet);
  DownloadSession* session = session_.get();
  HINTERNET connection =
      InternetConnectW(internet, parts.host.c_str(), parts.port, nullptr, nullptr,
                       INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(session));
  if (!connection) {
    PLOG(ERROR) << "Could not start session";
    CloseSession();
    return FailStart();
  }
  {
    DownloadSession::AutoLock lock(session);
    session->connection_.Reset(connection);
    session->connected_host_ = parts.host;
    session->connected_port_ = parts.port;
    session->ever_connected_ = true;
    session->AddConnection(connection);
  }

  bool sent;
  {
    DownloadSession::AutoLock lock(session);
    report_->OnChunkStart(0);
    chunk_open_ = true;
    // The state is set before sending: the completion may arrive before the
    // send returns.
    State previous = state();
    SetState(kRequestSent);
    MarkActivity();
    attempt_start_ = NowValue();
    sent = SendRequest(std::wstring());
    if (!sent)
      SetState(previous);
  }
  if (!sent) {
    CloseSession();
    return FailStart();
  }
  // The first look falls due when this request would be stalled.
  task_runner_->PostDelayedTask(
      FROM_HERE, base::Bind(&WinInetDownloader::CheckStalled, weak_factory_.GetWeakRef(), serial_),
      stall_timeout_);
  return true;
}

void WinInetDownloader::SetTimeOuts(void* handle) {
  // A server that accepts and then says nothing must end the request; the
  // stall watchdog covers reads that WinInet itself never times out.
  DWORD timeout_ms = static_cast<DWORD>(stall_timeout_.InMilliseconds());
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                       INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    if (!InternetSetOptionW(handle, option, &timeout_ms, sizeof(timeout_ms)))
      PLOG(WARNING) << "Could not set the time-out option " << option;
  }
}

bool WinInetDownloader::FailStart() {
  // Nothing will be written: the file (or string) is released at once, so
  // the caller may remove it.
  writer_->Close();
  return false;
}

bool WinInetDownloader::SendRequest(const std::wstring& extra_headers) {
  DownloadSession* session = session_.get();
  CrackedUrl parts;
  CrackUrl(url_, &parts);  // Parsed before; cannot fail now.
  const bool post = post_;
  VLOG(1) << "Opening internet request";
  // Redirects are followed here, not by WinInet, which would send the
  // request to a host before the allow-list could refuse it.
  // Nothing of a download goes into the user's cache (a package is large,
  // and the server's reply and statistics are the user's own business), and
  // nothing stale comes out of it or of a proxy's.
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_AUTO_REDIRECT | (parts.secure ? INTERNET_FLAG_SECURE : 0);
  HINTERNET request =
      HttpOpenRequestW(session->connection_.Get(), post ? L"POST" : L"GET", parts.path.c_str(),
                       L"HTTP/1.1", nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(session));
  if (!request) {
    PLOG(ERROR) << "Could not open Request";
    return false;
  }
  session->request_.Reset(request);
  session->AddOpenRequest(request, parts.host, parts.port);
  // Also on the request itself: some WinInet versions take a session's
  // time-outs for none of its requests, and an operation that a request
  // given up still has pending would then hold its socket for as long as
  // the server keeps silent.
  SetTimeOuts(request);
  session->read_->count = 0;
  session->read_->size = kFirstReadSize;
  VLOG(1) << (post ? "Sending POST request" : "Sending GET request");
  BOOL sent = HttpSendRequestW(request, extra_headers.empty() ? nullptr : extra_headers.c_str(),
                               static_cast<DWORD>(extra_headers.size()),
                               post ? const_cast<char*>(session->body_.data()) : nullptr,
                               post ? static_cast<DWORD>(session->body_.size()) : 0);
  if (!sent && GetLastError() != ERROR_IO_PENDING) {
    PLOG(ERROR) << "Could not send Request";
    return false;
  }
  return true;
}

void WinInetDownloader::Stop() {
  LOG(INFO) << "Stopping the download";
  CloseSession();
  SetState(kStopped);
}

void WinInetDownloader::CloseSession() {
  if (!session_)
    return;
  VLOG(1) << "Closing download session";
  base::SharedRef<DownloadSession> session = session_;
  // Set before taking the lock, so that a body read in progress on another
  // thread ends at its next block.
  session->cancelled_.Set();
  ScopedInternetHandle request, connection, internet;
  bool had_connection;
  {
    DownloadSession::AutoLock lock(session.get());
    if (chunk_open_ && report_) {
      report_->OnChunkEnd(bytes_received_);
      chunk_open_ = false;
    }
    if (writer_)
      writer_->Close();
    session->downloader_ = nullptr;
    session_.reset();
    session->LearnReportedSocket(session->request_.Get());
    request = std::move(session->request_);
    connection = std::move(session->connection_);
    internet = std::move(session->internet_);
    had_connection = session->ever_connected_;
  }
  // Closed outside the lock: closing may wait for a callback that needs it.
  if (!had_connection)
    return;  // The handles close now.
  if (cleanup_thread_)
    cleanup_thread_->Join();
  cleanup_thread_ = std::make_unique<base::PlainThread>(
      "Wininet Termination",
      base::Bind(&DownloadSession::Terminate, session, base::Passed(std::move(request)),
                 base::Passed(std::move(connection)), base::Passed(std::move(internet))));
  if (!cleanup_thread_->Start())
    cleanup_thread_.reset();  // The closure, and with it the handles, go now.
}

void WinInetDownloader::OnRequestComplete(uint32_t error) {
  report_->OnWinInetError(error);
  MarkActivity();
  if (error == ERROR_SUCCESS) {
    VLOG(2) << "Handling request completion";
    State current = state();
    if (current == kRequestSent) {
      if (HandleInitialCompletion())
        ReadBody();
    } else if (current == kReceivingBody) {
      ReadBody();
    }
    return;
  }
  if (IsConnectivityError(error)) {
    LOG(WARNING) << "Request completed with an error indicating connectivity issues: " << error;
    CheckRetriesAndResume(error);
    return;
  }
  LOG(ERROR) << "Request completed with an unexpected error: " << error;
  PostFailed();
}

bool WinInetDownloader::HandleInitialCompletion() {
  VLOG(1) << "Initial request completion";
  HINTERNET request = session_->request_.Get();
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr)) {
    PLOG(ERROR) << "Could not obtain HTTP response code";
    // Without an ending the caller would wait for ever.
    PostFailed();
    return false;
  }
  report_->OnHttpStatus(status);
  // A status line without header lines is a legal answer whose body runs
  // to the end of the connection. WinInet also takes a status line cut off
  // by a lost connection for one, so its end is believed only when a body
  // came (ReadBody); and it reports an answer with no status line at all
  // as "HTTP/1.0 200 OK" without headers: only a complete HTTP/1.1 status
  // line is taken as such an answer, anything else is retried as a lost
  // connection.
  headerless_ = !HasHeaderLines(request);
  if (headerless_ && !HasHttp11StatusLine(request)) {
    LOG(WARNING) << "Request completed with an error indicating connectivity issues: "
                 << "response without a status line or headers";
    CheckRetriesAndResume(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return false;
  }
  for (const wchar_t* name : {L"Date", L"Server", L"X-Served-By"})
    report_->OnHeader(name, QueryCustomHeader(request, name));

  if (status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT ||
      status == HTTP_STATUS_REDIRECT_METHOD || status == HTTP_STATUS_REDIRECT_KEEP_VERB ||
      status == HTTP_STATUS_PERMANENT_REDIRECT) {
    HandleRedirect(status);
    return false;
  }
  if (status == kRangeNotSatisfiable && !extra_headers_.empty() && !post_) {
    // The server has nothing from the bytes held on. When its length is
    // theirs, they are the whole body, whatever length was announced
    // before; another length is another file. Without a length the answer
    // tells nothing (a body cut off short of its end gets it too): the
    // bytes are kept, and the server asked again.
    confirming_ = false;
    uint64_t total = 0;
    if (!QueryUnsatisfiedRangeTotal(request, &total)) {
      LOG(WARNING) << "Server answered that no range from " << bytes_received_
                   << " bytes on exists, without its length; asking again";
      CheckRetriesAndResume(status);
      return false;
    }
    if (total == bytes_received_) {
      task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::OnCompleted,
                                                   session_->weak_downloader_, session_->serial_));
      return false;
    }
    LOG(WARNING) << "Server holds " << total << " bytes where " << bytes_received_
                 << " arrived; downloading from the start";
    if (StartOver())
      CheckRetriesAndResume(status);
    return false;
  }
  if (confirming_ && (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT)) {
    confirming_ = false;
    // A server that ignores ranges can never tell whether more follows:
    // the whole body it sends now is taken as it ends.
    range_ignored_ = status == HTTP_STATUS_OK;
  }
  if (status == HTTP_STATUS_PARTIAL_CONTENT) {
    uint64_t start = 0, total = 0;
    if (!QueryContentRange(request, &start, &total)) {
      // A partial answer is the range asked for: a range header that cannot
      // be read makes it no other one, and is no reason to throw the bytes
      // held away (the checksum judges what arrives). Its own length, when
      // it gives one, tells where it ends; otherwise its end is taken as it
      // comes, as nothing can confirm it.
      LOG(WARNING) << "Server answered a partial body whose range cannot be read ("
                   << QueryCustomHeader(request, L"Content-Range")
                   << "); taking it as the rest from " << bytes_received_ << " bytes";
      uint32_t length = 0;
      if (!length_known_) {
        if (QueryContentLength(request, &length) == ContentLength::kValid &&
            length <= 0xFFFFFFFFu - bytes_received_) {
          expected_size_ = bytes_received_ + length;
          length_known_ = true;
        } else {
          range_ignored_ = true;
        }
      }
    } else if (total != 0 && total == bytes_received_ && start != bytes_received_) {
      // Another range of a file whose whole length is the bytes held: they
      // are the whole body.
      task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::OnCompleted,
                                                   session_->weak_downloader_, session_->serial_));
      return false;
    } else if (start != bytes_received_) {
      // The body must continue where the bytes held end; a server that
      // sends another range would otherwise splice a corrupt file together.
      LOG(WARNING) << "Server answered with a range from " << start << " where " << bytes_received_
                   << " bytes are held; downloading from the start";
      if (!StartOver())
        return false;
      if (start != 0) {
        CheckRetriesAndResume(status);
        return false;
      }
    } else if (bytes_received_ > 0 && length_known_ && total != 0 && total != expected_size_) {
      // Another file than the one whose start is held (replaced on the
      // server, or another mirror's): the bytes would not fit together.
      LOG(WARNING) << "Server answered a length of " << total << " where " << expected_size_
                   << " was announced; downloading from the start";
      if (StartOver()) {
        expected_size_ = 0;
        length_known_ = false;
        CheckRetriesAndResume(status);
      }
      return false;
    }
    // The whole length tells when the body is complete, also when no 200
    // answer came before (a first answer of 503, then 206 to the retry).
    if (total > 0 && total <= 0xFFFFFFFFu) {
      expected_size_ = static_cast<uint32_t>(total);
      length_known_ = true;
    }
  }
  if (status == HTTP_STATUS_OK || status == HTTP_STATUS_PARTIAL_CONTENT) {
    if (status == HTTP_STATUS_OK) {
      uint32_t length = 0;
      switch (QueryContentLength(request, &length)) {
        case ContentLength::kValid:
          expected_size_ = length;
          length_known_ = true;
          VLOG(1) << "Expected total size: " << expected_size_;
          break;
        case ContentLength::kTooLarge:
          LOG(ERROR) << "Response is too large to download";
          PostFailed();
          return false;
        case ContentLength::kMissing:
        case ContentLength::kInvalid:
          expected_size_ = 0;
          length_known_ = false;
          LOG(INFO) << "Could not get Content-Length from response";
          break;
      }
      PostProgress(&WinInetDownloader::NotifyTotal, expected_size_);
      // A server that ignored the range sends the whole body again: what
      // was written before must go, or it would be written twice.
      if (bytes_received_ > 0) {
        LOG(WARNING) << "Server ignored the range request; downloading from the start";
        if (!writer_->Rewind()) {
          PostFailed();
          return false;
        }
        bytes_received_ = 0;
      }
    }
    redirects_ = 0;
    request_start_ = bytes_received_;
    SetState(kReceivingBody);
    session_->read_->count = 0;
    return true;
  }
  if (status == HTTP_STATUS_PROXY_AUTH_REQ) {
    LOG(WARNING) << "Request completed with a proxy authentication request";
    waiting_ = true;
    task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::RequestProxyCredentials,
                                                 session_->weak_downloader_, session_->serial_));
    return false;
  }
  if (status == HTTP_STATUS_BAD_GATEWAY || status == HTTP_STATUS_SERVICE_UNAVAIL ||
      status == HTTP_STATUS_GATEWAY_TIMEOUT) {
    LOG(WARNING) << "Download failed with " << status << " error";
    CheckRetriesAndResume(status);
    return false;
  }
  LOG(ERROR) << "Request completed with an unexpected HTTP status: " << status;
  PostFailed();
  return false;
}

void WinInetDownloader::ReadBody() {
  VLOG(2) << "Additional data downloaded";
  DownloadSession* session = session_.get();
  DownloadSession::ReadTarget* target = session->read_.get();
  for (;;) {
    DWORD read = target->count;
    if (read > 0) {
      target->count = 0;
      if (bytes_received_ > 0xFFFFFFFFu - read) {
        LOG(ERROR) << "Response is too large to download";
        PostFailed();
        return;
      }
      if (!writer_->Write(target->buffer.get(), read)) {
        PostFailed();
        return;
      }
      bytes_received_ += read;
      MarkActivity();
      VLOG(2) << "Downloaded size: " << bytes_received_;
      PostProgress(&WinInetDownloader::NotifyCurrent, bytes_received_);
    }
    if (session->cancelled_.IsSet())
      return;
    const DWORD size = target->size;
    // Not InternetReadFile: a read that goes asynchronous may complete on
    // WinInet's thread, count and all, before InternetReadFile returns, and
    // then InternetReadFile sets the count it was given to 0 on its way
    // out. The bytes of that read would be lost and the rest of the body
    // written that much too early. InternetReadFileEx leaves the count to
    // the read.
    target->request = {};
    target->request.dwStructSize = sizeof(target->request);
    target->request.lpvBuffer = target->buffer.get();
    target->request.dwBufferLength = size;
    const BOOL done = InternetReadFileExA(session->request_.Get(), &target->request, IRF_ASYNC, 0);
    target->count = done ? target->request.dwBufferLength : 0;
    if (!done) {
      DWORD error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        target->size = kMinReadSize;
        session->read_pending_ = true;
        VLOG(2) << "More data pending";
        return;
      }
      target->count = 0;
      if (IsConnectivityError(error)) {
        LOG(ERROR) << "Download interrupted by loss of connectivity: " << error;
        CheckRetriesAndResume(error);
      } else {
        LOG(ERROR) << "Download interrupted for unknown reason: " << error;
        PostFailed();
      }
      return;
    }
    if (target->count == size)
      target->size = std::min(size * 2, kReadBufferSize);
    if (target->count == 0) {
      VLOG(1) << "Done reading from Internet";
      if (bytes_received_ < expected_size_) {
        LOG(WARNING) << "Download completed, but we are below response size";
        CheckRetriesAndResume(ERROR_INTERNET_CONNECTION_ABORTED);
      } else if (headerless_ && bytes_received_ == request_start_) {
        LOG(WARNING) << "Request completed with an error indicating connectivity issues: "
                     << "status line without headers or body";
        CheckRetriesAndResume(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      } else if (!length_known_ && !post_ && !range_ignored_) {
        // A body without a length, or a chunked one, ends where the
        // connection ends, also when it was lost before the last chunk:
        // the server is asked for what follows, and only its answer that
        // nothing does completes the download.
        VLOG(1) << "Body without a length ended at " << bytes_received_
                << " bytes; asking for what follows";
        confirming_ = true;
        // Asked at once when the body arrived in one request; a server
        // that ends every body early is asked like a lost connection.
        int count = 0;
        bool at_once = false;
        if (!EndAttempt(ERROR_SUCCESS, &at_once, &count))
          return;
        task_runner_->PostDelayedTask(
            FROM_HERE,
            base::Bind(&WinInetDownloader::Resume, session->weak_downloader_, session->serial_),
            at_once || count == 0 ? base::TimeSpan() : retry_delay_);
      } else {
        task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::OnCompleted,
                                                     session->weak_downloader_, session->serial_));
      }
      return;
    }
  }
}

void WinInetDownloader::PostFailed() {
  task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::OnFailed,
                                               session_->weak_downloader_, session_->serial_));
}

void WinInetDownloader::PostProgress(void (WinInetDownloader::*notify)(uint32_t, uint32_t),
                                     uint32_t value) {
  if (!progress_)
    return;
  task_runner_->PostTask(FROM_HERE,
                         base::Bind(notify, session_->weak_downloader_, session_->serial_, value));
}

void WinInetDownloader::CheckRetriesAndResume(uint32_t reason) {
  // One retry step per failed request: the watchdog and WinInet may both
  // see the same one end.
  if (waiting_)
    return;
  int count = 0;
  bool at_once = false;
  if (!EndAttempt(reason, &at_once, &count))
    return;
  LOG(INFO) << "Retrying " << count << " of " << max_retries_ << (at_once ? " at once" : "")
            << "; no progress for " << (NowValue() - progress_time_) / 1000000 << " s of at most "
            << ProgressTimeLimit().InSeconds() << " s";
  task_runner_->PostDelayedTask(
      base::CodeLocation("CheckRetriesAndResume", __FILE__, __LINE__, nullptr),
      base::Bind(&WinInetDownloader::Resume, session_->weak_downloader_, session_->serial_),
      at_once ? base::TimeSpan() : retry_delay_);
}

bool WinInetDownloader::EndAttempt(uint32_t reason, bool* at_once, int* count_out) {
  // A request that brought a good share of new bytes beyond the most any
  // request before it held, or new bytes over a connection that lasted, was
  // worth having: the next one goes at once. Only real progress, though,
  // lets the download go on for longer: the count of retries and the time
  // since the last progress start again only when the download holds a
  // good share of bytes more than when they last started, however many
  // requests brought them. A server that gives a byte per connection, fast
  // or slow, can never reset them.
  const int64_t now = NowValue();
  const uint32_t gained = bytes_received_ > best_received_ ? bytes_received_ - best_received_ : 0;
  const base::TimeSpan lasted = base::TimeSpan::FromMicroseconds(now - attempt_start_);
  *at_once = gained >= kMinProgressBytes ||
             (gained > 0 && lasted >= base::TimeSpan::FromMilliseconds(kMinProgressTimeMs));
  best_received_ = std::max(best_received_, bytes_received_);
  if (best_received_ - progress_mark_ >= kMinProgressBytes) {
    progress_mark_ = best_received_;
    progress_time_ = now;
    retry_count_ = 0;
  }
  const int count = retry_count_;
  *count_out = count;
  if (count > 1)
    PostProgress(&WinInetDownloader::NotifyStalled, reason);
  GiveUpRequest();
  if (count > max_retries_) {
    LOG(ERROR) << "Exceded maximum amount of retries: " << max_retries_ << " in a row brought less "
               << "than " << kMinProgressBytes << " bytes";
    PostFailed();
    return false;
  }
  const base::TimeSpan without = base::TimeSpan::FromMicroseconds(now - progress_time_);
  if (without > ProgressTimeLimit()) {
    LOG(ERROR) << "No progress for " << without.InSeconds() << " s: less than " << kMinProgressBytes
               << " bytes arrived in " << count << " retries; the limit is "
               << ProgressTimeLimit().InSeconds() << " s";
    PostFailed();
    return false;
  }
  retry_count_ = count + 1;
  waiting_ = true;
  return true;
}

base::TimeSpan WinInetDownloader::ProgressTimeLimit() const {
  // As long as the retries of a server that refuses at once take, and the
  // time a request may wait for its first byte: a server that cannot be
  // reached gets all its retries, one that keeps requests waiting fewer.
  if (progress_time_limit_ > base::TimeSpan())
    return progress_time_limit_;
  return retry_delay_ * (max_retries_ + 1) + stall_timeout_;
}

bool WinInetDownloader::StartOver() {
  if (++restarts_ > kMaxStartsOver) {
    LOG(ERROR) << "Server answered " << restarts_ << " times with bytes that do not fit those "
               << "held; giving up";
    PostFailed();
    return false;
  }
  if (bytes_received_ > 0 && !writer_->Rewind()) {
    PostFailed();
    return false;
  }
  bytes_received_ = 0;
  return true;
}

void WinInetDownloader::GiveUpRequest() {
  DownloadSession* session = session_.get();
  session->RetirePendingRead();
  // The request and its connection are closed at once, so that WinInet
  // drops the socket now and not when the next request replaces them; an
  // operation still pending on the request keeps its socket until it ends,
  // which its own time-outs (SendRequest) see to at about the same moment.
  // The next request opens a new connection.
  session->LearnReportedSocket(session->request_.Get());
  if (session->request_.IsValid())
    session->given_up_.push_back(std::move(session->request_));
  if (session->connection_.IsValid())
    session->given_up_.push_back(std::move(session->connection_));
  session->connected_host_.clear();
  // Closed on the starting thread, outside the lock: a callback of the old
  // request may be waiting for it.
  task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::CloseGivenUp,
                                               session->weak_downloader_, session->serial_));
}

void WinInetDownloader::CloseGivenUp(uint32_t serial) {
  // Once the session is closed, its termination closes what is left.
  if (!session_ || serial != serial_)
    return;
  std::vector<ScopedInternetHandle> handles;
  {
    DownloadSession::AutoLock lock(session_.get());
    handles.swap(session_->given_up_);
  }
  std::vector<HINTERNET> closed;
  for (ScopedInternetHandle& handle : handles)
    closed.push_back(handle.Get());
  // Each request before its connection.
  for (ScopedInternetHandle& handle : handles)
    handle.Reset();
  // No request of this download runs until this returns, so that nothing
  // of the next one is cancelled.
  session_->EndPendingOperations(closed);
}

bool WinInetDownloader::IsCurrent(uint32_t serial) const {
  State current = state();
  return session_ && serial == serial_ && (current == kRequestSent || current == kReceivingBody);
}

void WinInetDownloader::Resume(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  DownloadSession* session = session_.get();
  std::wstring range;
  bool rewound = true;
  {
    DownloadSession::AutoLock lock(session);
    waiting_ = false;
    if (chunk_open_) {
      report_->OnChunkEnd(bytes_received_);
      chunk_open_ = false;
    }
    VLOG(1) << "Attempting download resume";
    if (post_) {
      // A POST is never a ranged request: its answer is made for that
      // request, so it is asked for whole again.
      rewound = bytes_received_ == 0 || writer_->Rewind();
      bytes_received_ = 0;
    } else {
      range = L"Range: bytes=" + std::to_wstring(bytes_received_) + L"-";
    }
    report_->OnChunkStart(bytes_received_);
    chunk_open_ = true;
    report_->OnRetry(static_cast<uint32_t>(retry_count_.load()));
  }
  if (!rewound) {
    OnFailed(serial);
    return;
  }
  if (!SendNextRequest(range)) {
    LOG(ERROR) << "Could not resume downloading";
    OnFailed(serial);
  }
}

void WinInetDownloader::FollowRedirect(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  std::wstring headers;
  {
    DownloadSession::AutoLock lock(session_.get());
    headers = extra_headers_;
  }
  if (!SendNextRequest(headers))
    OnFailed(serial);
}

bool WinInetDownloader::SendNextRequest(const std::wstring& extra_headers) {
  DownloadSession* session = session_.get();
  CrackedUrl parts;
  ScopedInternetHandle old_request;
  bool new_connection;
  {
    DownloadSession::AutoLock lock(session);
    if (!CrackUrl(url_, &parts)) {
      PLOG(ERROR) << "Could not parse URL";
      return false;
    }
    session->RetirePendingRead();
    old_request = std::move(session->request_);
    new_connection = !session->connection_.IsValid() || parts.host != session->connected_host_ ||
                     parts.port != session->connected_port_;
  }
  // Outside the lock: a callback of the old request may be waiting for it.
  old_request.Reset();

  if (new_connection) {
    HINTERNET connection =
        InternetConnectW(session->internet_.Get(), parts.host.c_str(), parts.port, nullptr, nullptr,
                         INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(session));
    if (!connection) {
      PLOG(ERROR) << "Could not start session";
      return false;
    }
    ScopedInternetHandle old_connection;
    {
      DownloadSession::AutoLock lock(session);
      // The new one is counted before the old one closes, so that the
      // session never looks released while it runs.
      session->AddConnection(connection);
      old_connection = std::move(session->connection_);
      session->connection_.Reset(connection);
      session->connected_host_ = parts.host;
      session->connected_port_ = parts.port;
    }
    old_connection.Reset();
  }

  DownloadSession::AutoLock lock(session);
  if (!session->connection_.IsValid())
    return false;
  extra_headers_ = extra_headers;
  secure_ = parts.secure;
  SetState(kRequestSent);
  MarkActivity();
  attempt_start_ = NowValue();
  return SendRequest(extra_headers_);
}

void WinInetDownloader::HandleRedirect(uint32_t status) {
  if (++redirects_ > kMaxRedirects) {
    // A loop is no passing fault: no retry.
    LOG(ERROR) << "Too many redirects";
    PostFailed();
    return;
  }
  std::wstring target;
  if (!ResolveRedirect(session_->request_.Get(), url_, &target)) {
    LOG(ERROR) << "Failed to parse redirect URL";
    PostFailed();
    return;
  }
  VLOG(1) << "Redirect occured";
  if (WithoutCredentials(target) != target) {
    // Its password must reach neither the log nor the report.
    LOG(ERROR) << "Attempting to redirect to an address with a user name or password";
    PostFailed();
    return;
  }
  report_->OnRedirect(target);
  CrackedUrl parts;
  if (!CrackUrl(target, &parts)) {
    PLOG(ERROR) << "Failed to parse redirect URL";
    PostFailed();
    return;
  }
  if (!IsHostAllowed(parts.host, allowed_domains_)) {
    // Refused before anything went there.
    LOG(ERROR) << "Attempting to redirect to a disallowed domain: " << parts.host;
    PostFailed();
    return;
  }
  // As browsers do: 303 always, and 301 and 302 after a POST, continue with
  // a GET; 307 and 308 repeat the request as it was.
  if (status == HTTP_STATUS_REDIRECT_METHOD ||
      (post_ && (status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT))) {
    post_ = false;
  }
  // From here on the body comes from there, and resumptions go there too.
  url_ = target;
  task_runner_->PostTask(FROM_HERE, base::Bind(&WinInetDownloader::FollowRedirect,
                                               session_->weak_downloader_, session_->serial_));
}

void WinInetDownloader::MarkActivity() {
  last_activity_.store(NowValue(), std::memory_order_relaxed);
}

void WinInetDownloader::CheckStalled(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  base::TimeSpan next;
  {
    DownloadSession::AutoLock lock(session_.get());
    const base::TimeSpan idle = base::TimeSpan::FromMicroseconds(
        NowValue() - last_activity_.load(std::memory_order_relaxed));
    if (!waiting_ && idle >= stall_timeout_) {
      LOG(WARNING) << "Request completed with an error indicating connectivity issues: no data for "
                   << idle.InMilliseconds() << " ms";
      report_->OnWinInetError(ERROR_INTERNET_TIMEOUT);
      CheckRetriesAndResume(ERROR_INTERNET_TIMEOUT);
    }
    next = NextStallCheck(stall_timeout_, idle, waiting_);
  }
  task_runner_->PostDelayedTask(
      FROM_HERE, base::Bind(&WinInetDownloader::CheckStalled, weak_factory_.GetWeakRef(), serial),
      next);
}

void WinInetDownloader::RequestProxyCredentials(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  auto result = std::make_shared<DWORD>(0);
  base::SharedRef<DownloadSession> session = session_;
  ui_->RunUICallbackAndPostReply(
      base::Bind(
          [](base::SharedRef<DownloadSession> session, std::shared_ptr<DWORD> result, HWND window) {
            base::AutoLock hold(session->prompt_lock_);
            HINTERNET request;
            {
              // Empty once the session closed.
              DownloadSession::AutoLock lock(session.get());
              request = session->request_.Get();
            }
            if (!request) {
              *result = ERROR_CANCELLED;
              return;
            }
            *result = RunCredentialPrompt(window, request);
          },
          session, result),
      task_runner_,
      base::Bind(&WinInetDownloader::OnProxyPromptDone, weak_factory_.GetWeakRef(), serial,
                 result));
}

void WinInetDownloader::OnProxyPromptDone(uint32_t serial, std::shared_ptr<DWORD> result) {
  if (!IsCurrent(serial))
    return;
  DWORD answer = *result;
  if (answer == ERROR_INTERNET_FORCE_RETRY) {
    LOG(INFO) << "Logged in to proxy - resuming download";
    {
      DownloadSession::AutoLock lock(session_.get());
      waiting_ = false;
      // The time the user took is none the server let pass.
      progress_time_ = NowValue();
    }
    Resume(serial);
    return;
  }
  if (answer == ERROR_SUCCESS || answer == ERROR_CANCELLED)
    LOG(ERROR) << "The user cancelled the prompt for proxy credentials";
  else
    LOG(ERROR) << "Failed to obtain credentials for proxy";
  OnFailed(serial);
}

void WinInetDownloader::NotifyTotal(uint32_t serial, uint32_t total) {
  if (IsCurrent(serial))
    progress_->SetTotalProgress(total);
}

void WinInetDownloader::NotifyCurrent(uint32_t serial, uint32_t current) {
  if (IsCurrent(serial))
    progress_->SetCurrentProgress(current);
}

void WinInetDownloader::NotifyStalled(uint32_t serial, uint32_t) {
  if (IsCurrent(serial))
    progress_->NotifyStalled();
}

void WinInetDownloader::OnCompleted(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  retry_count_ = 0;
  uint32_t received;
  {
    DownloadSession::AutoLock lock(session_.get());
    received = bytes_received_;
  }
  CloseSession();
  LOG(INFO) << "Download completed (" << received << " bytes)";
  SetState(kCompleted);
  RunDone();
}

void WinInetDownloader::OnFailed(uint32_t serial) {
  if (!IsCurrent(serial))
    return;
  LOG(ERROR) << "Download failed";
  CloseSession();
  SetState(kFailed);
  RunDone();
}

void WinInetDownloader::RunDone() {
  // The completion may start the next download, which replaces done_.
  base::Closure done = done_;
  if (!done.is_null())
    done.Run();
}

}  // namespace installer
