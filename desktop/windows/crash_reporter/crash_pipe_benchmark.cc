// Registration with the crash server, measured against a plain round trip on
// a message-mode pipe in the same run:
//   tools/wine_exec.sh build/bin/crash_pipe_benchmark.exe [--rounds=100]
// Prints the median of each and their ratio; exits 1 when a registration's
// median is more than twice the plain round trip's.
#include <windows.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"

namespace {

double NowMicroseconds() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1e6 / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// The plain counterpart: a thread answering each 80-byte message with one of
// 80 bytes on a message pipe, a connection per round like a registration.
struct EchoServer {
  std::wstring name;
  base::win::ScopedHandle pipe;
  int rounds;
};

DWORD WINAPI RunEchoServer(void* parameter) {
  auto* echo = static_cast<EchoServer*>(parameter);
  HANDLE pipe = echo->pipe.Get();
  for (int i = 0; i < echo->rounds; ++i) {
    if (!::ConnectNamedPipe(pipe, nullptr) && ::GetLastError() != ERROR_PIPE_CONNECTED)
      return 1;
    crash_reporter::CrashPipeMessage message;
    DWORD bytes = 0;
    if (::ReadFile(pipe, &message, sizeof(message), &bytes, nullptr))
      ::WriteFile(pipe, &message, sizeof(message), &bytes, nullptr);
    ::FlushFileBuffers(pipe);
    ::DisconnectNamedPipe(pipe);
  }
  return 0;
}

base::win::ScopedHandle ConnectMessagePipe(const std::wstring& name) {
  for (;;) {
    base::win::ScopedHandle pipe(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
    if (pipe.IsValid()) {
      DWORD mode = PIPE_READMODE_MESSAGE;
      ::SetNamedPipeHandleState(pipe.Get(), &mode, nullptr, nullptr);
      return pipe;
    }
    if (!::WaitNamedPipeW(name.c_str(), 2000))
      return base::win::ScopedHandle();
  }
}

}  // namespace

int main() {
  base::CommandLine::InitForCurrentProcess();
  uint32_t rounds = 100;
  const base::CommandLine& command_line = *base::CommandLine::ForCurrentProcess();
  if (command_line.HasSwitch("rounds"))
    base::StringToUint(command_line.GetSwitchValueASCII("rounds"), &rounds);
  if (rounds == 0)
    rounds = 1;

  std::wstring crash_pipe =
      crash_reporter::kCrashPipeNamePrefix + std::to_wstring(::GetCurrentProcessId());
  crash_reporter::CrashPipeServer server(crash_pipe, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, false, nullptr);
  if (!server.Start()) {
    fprintf(stderr, "cannot start the crash server\n");
    return 2;
  }
  EchoServer echo;
  echo.name =
      L"\\\\.\\pipe\\VelmoCrashPipeBenchmarkEcho" + std::to_wstring(::GetCurrentProcessId());
  echo.rounds = static_cast<int>(rounds);
  echo.pipe.Reset(::CreateNamedPipeW(
      echo.name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 64, 64, 0, nullptr));
  if (!echo.pipe.IsValid()) {
    fprintf(stderr, "cannot create the plain pipe\n");
    return 2;
  }
  base::win::ScopedHandle echo_thread(
      ::CreateThread(nullptr, 0, &RunEchoServer, &echo, 0, nullptr));

  // The two kinds of round alternate, so that the load of a shared machine
  // weighs on both alike.
  std::vector<double> registrations;
  std::vector<double> round_trips;
  std::vector<std::unique_ptr<crash_reporter::CrashPipeClient>> clients;
  for (uint32_t i = 0; i < rounds; ++i) {
    auto client = std::make_unique<crash_reporter::CrashPipeClient>(crash_pipe, 0,
                                                                    crash_reporter::CustomInfo());
    double start = NowMicroseconds();
    if (!client->Register()) {
      fprintf(stderr, "registration %u failed\n", i);
      return 2;
    }
    registrations.push_back(NowMicroseconds() - start);
    clients.push_back(std::move(client));

    start = NowMicroseconds();
    base::win::ScopedHandle pipe = ConnectMessagePipe(echo.name);
    crash_reporter::CrashPipeMessage request = {}, reply = {};
    DWORD bytes = 0;
    if (!pipe.IsValid() || !::TransactNamedPipe(pipe.Get(), &request, sizeof(request), &reply,
                                                sizeof(reply), &bytes, nullptr)) {
      fprintf(stderr, "plain round trip %u failed\n", i);
      return 2;
    }
    round_trips.push_back(NowMicroseconds() - start);
  }
  ::WaitForSingleObject(echo_thread.Get(), 10000);

  double registration = Median(registrations);
  double round_trip = Median(round_trips);
  double ratio = registration / round_trip;
  printf("registration median %.1f us, plain round trip median %.1f us, ratio %.2f\n", registration,
         round_trip, ratio);
  return ratio <= 2.0 ? 0 : 1;
}
