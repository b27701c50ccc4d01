// The additional components the package server names beside the package:
// partner content placed into the unpacked package, and suite components
// (self-extracting archives with an installer of their own). A component
// that cannot be obtained is skipped; it never fails the fetch.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process.h"
#include "base/threading/lock.h"
#include "base/time.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/launch_lock.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate_proxy.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"
#include "desktop/windows/installer/package_fetcher/version_check.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode.h"
#include "desktop/windows/installer/wininet/download_report.h"
#include "desktop/windows/installer/wininet/wininet.h"
#include "desktop/windows/installer/wininet/wininet_response_writer.h"

namespace installer {
namespace {

// A component is downloaded at most this many times more after a failure.
constexpr uint32_t kMaxAdditionalFileRetries = 3;

// How long a component's self-extracting archive may run. One that hangs
// would hold the worker, and with it the end of the run, for good.
constexpr base::TimeSpan kExtractorTimeout = base::TimeSpan::FromMinutes(5);

std::atomic<int64_t> g_extractor_timeout_for_testing_ms{0};

DWORD ExtractorTimeoutMs() {
  const int64_t ms = g_extractor_timeout_for_testing_ms.load();
  return static_cast<DWORD>(ms > 0 ? ms : kExtractorTimeout.InMilliseconds());
}

}  // namespace

// static
void PackageFetcherCore::SetExtractorTimeoutForTesting(base::TimeSpan limit) {
  g_extractor_timeout_for_testing_ms.store(limit.InMilliseconds());
}

void PackageFetcherCore::DownloadAdditionalFile() {
  LOG(INFO) << "Preparing to download an additional file";
  const base::Value* entry = nullptr;
  AdditionalFile file;
  if (!additional_files_->Get(next_additional_file_, &entry) ||
      !ParseAdditionalFile(*entry, &file)) {
    LOG(ERROR) << "Failed parsing additional file part of JSON reply";
    NextAdditionalFile();
    return;
  }
  additional_file_stats_->SetString("download_url", file.location);
  additional_file_stats_->SetInteger("download_succeeded", 0);
  additional_try_stats_ = additional_file_stats_->AddListEntry("download_tries");
  additional_try_stats_->SetTimestampAndElapsed("download_start_time");
  additional_try_stats_->SetInteger("try_number", static_cast<int32_t>(additional_file_tries_));

  auto writer = std::make_unique<FileResponseWriter>();
  if (!writer->Open(folder_.Append(kAdditionalFileTempName))) {
    // Nowhere to download to: the rest would fail the same way.
    LOG(ERROR) << "Failed initializing the file to use as download destination";
    OnPackageReady();
    return;
  }
  if (!downloader_->Start(
          file.location, std::string(),
          base::Bind(&PackageFetcherCore::OnAdditionalFileDownloaded, weak_factory_.GetWeakRef(),
                     file.filename, file.archive, file.checksum, file.type),
          std::move(writer),
          std::make_unique<DownloadErrorReport>(additional_try_stats_.get(), std::string()))) {
    LOG(ERROR) << "Failed downloading additional file";
    NextAdditionalFile();
  }
}

void PackageFetcherCore::OnAdditionalFileDownloaded(std::wstring filename, bool archive,
                                                    std::string checksum, std::wstring type) {
  additional_try_stats_->SetTimestampAndElapsed("download_end_time");
  const base::FilePath temp = folder_.Append(kAdditionalFileTempName);
  if (downloader_->state() != WinInetDownloader::kCompleted || !ChecksumMatches(temp, checksum)) {
    LOG(ERROR) << "Failed downloading partner content";
    base::DeletePath(temp, false);
    // A downloader that already retried has had its chances with this
    // address; starting over would only repeat them.
    if (additional_file_tries_++ >= kMaxAdditionalFileRetries || downloader_->retry_count() != 0) {
      LOG(INFO) << "Giving up downloading this file";
      NextAdditionalFile();
    } else {
      LOG(INFO) << "Retrying additional file download";
      PostToSelf(FROM_HERE, base::Bind(&PackageFetcherCore::DownloadAdditionalFile,
                                       weak_factory_.GetWeakRef()));
    }
    return;
  }

  const bool partner = type == L"partner_content";
  const base::FilePath target = partner ? UnpackFolder() : suite_path_.RemoveExtension();
  if (!archive) {
    if (!base::MovePath(temp, target.Append(filename))) {
      LOG(ERROR) << "Failed moving additional file into place";
      NextAdditionalFile();
      return;
    }
  } else {
    if (DownloadsMustBeSigned() && !VerifyAuthenticode(temp, GetExpectedSigner())) {
      // The check has logged why.
      base::DeletePath(temp, false);
      NextAdditionalFile();
      return;
    }
    if (!base::CreateDirectoryTree(target)) {
      LOG(ERROR) << "Could not create unpacking folder for additional file";
      NextAdditionalFile();
      return;
    }
    const base::FilePath sfx = target.Append(type + L"_sfx.exe");
    if (!base::MovePath(temp, sfx)) {
      LOG(ERROR) << "Failed moving additional component SFX into place";
      NextAdditionalFile();
      return;
    }
    base::Process process;
    {
      base::AutoLock hold(GetLaunchLock());
      process = base::LaunchProcess(base::CommandLine(sfx), base::LaunchOptions());
    }
    if (!process.IsValid()) {
      LOG(ERROR) << "Failed starting SFX archive";
      NextAdditionalFile();
      return;
    }
    int exit_code = -1;
    const DWORD timeout_ms = ExtractorTimeoutMs();
    if (!process.WaitForExitWithTimeout(timeout_ms, &exit_code)) {
      process.Terminate(1, true);
      LOG(ERROR) << "Failed extracting SFX archive: it did not end within " << timeout_ms
                 << " ms and was ended";
      NextAdditionalFile();
      return;
    }
    if (exit_code != 0) {
      LOG(ERROR) << "Failed extracting SFX archive: exit code " << exit_code;
      NextAdditionalFile();
      return;
    }
    base::FilePath installer = target.Append(type + L"_installer.exe");
    if (type == L"suite" && !base::PathExists(installer))
      installer = target.Append(L"assistant_installer.exe");
    if (!CheckDownloadedVersion(installer, false, additional_file_stats_.get())) {
      LOG(ERROR) << "Component version didn't pass check";
      NextAdditionalFile();
      return;
    }
    base::DeletePath(sfx, false);
  }

  additional_file_stats_->SetInteger("download_succeeded", 1);
  if (partner && !filename.empty())
    files_list_names_.push_back(base::WideToUTF8(filename));
  NextAdditionalFile();
}

}  // namespace installer
