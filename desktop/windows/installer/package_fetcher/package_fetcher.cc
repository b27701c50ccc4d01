#include "desktop/windows/installer/package_fetcher/package_fetcher.h"

#include <memory>
#include <utility>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/path_registry.h"
#include "base/logging.h"
#include "base/threading/current_task_runner.h"
#include "base/threading/lock.h"
#include "base/threading/waitable_event.h"
#include "base/utf_string_conversions.h"
#include "components/prefs/json_pref_store.h"
#include "components/prefs/prefs_task_pool.h"
#include "desktop/windows/installer/installer.h"
#include "desktop/windows/installer/installer_launcher_steps.h"
#include "desktop/windows/installer/installer_status.h"
#include "desktop/windows/installer/package_fetcher/checksum_checker.h"
#include "desktop/windows/installer/package_fetcher/lzma_util.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate_proxy.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_util.h"
#include "desktop/windows/installer/package_fetcher/package_installer_check.h"
#include "desktop/windows/installer/package_fetcher/payload_reader.h"
#include "desktop/windows/installer/package_fetcher/stale_downloads.h"
#include "desktop/windows/installer/package_fetcher/version_check.h"
#include "desktop/windows/installer/product_config.h"
#include "desktop/windows/installer/service/authenticode.h"
#include "desktop/windows/installer/service/pe_image.h"
#include "desktop/windows/installer/url_credentials.h"
#include "desktop/windows/installer/wininet/download_report.h"
#include "desktop/windows/installer/wininet/wininet.h"
#include "desktop/windows/installer/wininet/wininet_response_writer.h"

namespace installer {
namespace {

constexpr char kWorkerThreadName[] = "Package fetcher worker";
constexpr wchar_t kDownloadPrefix[] = L"velmo_installer";
constexpr wchar_t kSuitePrefix[] = L"suite";
// The package server's reply is a short JSON object; anything this large is
// no reply and must not fill the memory.
constexpr size_t kMaxReplySize = 4 * 1024 * 1024;

base::Lock& RunningExecutableLock() {
  static base::Lock* lock = new base::Lock;
  return *lock;
}

base::FilePath& RunningExecutableForTesting() {
  static base::FilePath* path = new base::FilePath;
  return *path;
}

struct DownloaderRetries {
  int max_retries = -1;
  base::TimeSpan delay;
};

// How long the unpacked package waits for its welcome page preference to be
// written: the write is one small file.
constexpr base::TimeSpan kWelcomeUrlWriteTimeout = base::TimeSpan::FromSeconds(60);

base::SharedRef<prefs::PrefsTaskPoolHolder>& PrefsTaskPoolForTesting() {
  static auto* pool = new base::SharedRef<prefs::PrefsTaskPoolHolder>();
  return *pool;
}

DownloaderRetries& DownloaderRetriesForTesting() {
  static DownloaderRetries* retries = new DownloaderRetries;
  return *retries;
}

}  // namespace

PackageFetcherCore::PackageFetcherCore(base::SharedRef<PackageFetcherDelegateProxy> proxy,
                                       PayloadReader* payload, const base::FilePath& folder,
                                       const base::FilePath& download_path,
                                       const base::FilePath& suite_path,
                                       const StatsNode& installation_stats, uint32_t architecture,
                                       bool files_claimed)
    : proxy_(std::move(proxy)),
      payload_(payload),
      folder_(folder),
      download_path_(download_path),
      suite_path_(suite_path),
      downloader_(std::make_unique<WinInetDownloader>(proxy_.get(), proxy_.get())),
      installation_stats_(installation_stats),
      architecture_(architecture),
      files_claimed_(files_claimed) {
  const DownloaderRetries& retries = DownloaderRetriesForTesting();
  if (retries.max_retries >= 0) {
    downloader_->set_max_retries(retries.max_retries);
    downloader_->SetRetryDelayForTesting(retries.delay);
  }
}

PackageFetcherCore::~PackageFetcherCore() = default;

// static
void PackageFetcherCore::SetRunningExecutableForTesting(const base::FilePath& path) {
  base::AutoLock hold(RunningExecutableLock());
  RunningExecutableForTesting() = path;
}

// static
void PackageFetcherCore::SetPrefsTaskPoolForTesting(
    base::SharedRef<prefs::PrefsTaskPoolHolder> pool) {
  PrefsTaskPoolForTesting() = std::move(pool);
}

// static
void PackageFetcherCore::SetDownloaderRetriesForTesting(int max_retries, base::TimeSpan delay) {
  DownloaderRetriesForTesting() = {max_retries, delay};
}

void PackageFetcherCore::PostToSelf(const base::CodeLocation& from_here, base::Closure task) {
  base::CurrentTaskRunner::Get()->PostTask(from_here, std::move(task));
}

void PackageFetcherCore::Fail(const char* text, PackageStatus status) {
  LOG(ERROR) << text;
  fetch_stats_->SetString("failure_reason", std::string_view(text));
  ReportResult(status);
}

bool PackageFetcherCore::DownloadsMustBeSigned() const {
  base::FilePath exe;
  {
    base::AutoLock hold(RunningExecutableLock());
    exe = RunningExecutableForTesting();
  }
  if (exe.empty() && !base::PathRegistry::Get(base::kPathExeFile, &exe))
    return true;
  bool is_signed = false;
  // An executable that cannot be read is not known to be unsigned.
  return !HasEmbeddedSignature(exe, &is_signed) || is_signed;
}

void PackageFetcherCore::Start() {
  LOG(INFO) << "Starting the package fetcher";
  fetch_stats_ = installation_stats_.AddListEntry("fetches");
  fetch_stats_->SetInteger("try_number", static_cast<int32_t>(restart_count_));
  fetch_stats_->SetTimestampAndElapsed("start_time");
  proxy_->NotifyStatusChanged(kFetcherStarted);

  if (!files_claimed_) {
    // The claim logged its cause.
    fetch_stats_->SetString("failure_reason",
                            std::string_view("Could not claim the download files"));
    ReportResult(kFetcherInitializationFailed);
    return;
  }
  if (!base::DeletePath(download_path_, false) || !base::DeletePath(UnpackFolder(), true)) {
    Fail("Unable to obtain or clean the download/extraction path", kFetcherInitializationFailed);
    return;
  }
  if (!payload_ || payload_->type() != kPayloadFullPackage) {
    PostToSelf(FROM_HERE,
               base::Bind(&PackageFetcherCore::FetchDownloadUrl, weak_factory_.GetWeakRef()));
    return;
  }
  proxy_->NotifyStatusChanged(kFetcherUnpackingPackage);
  // A payload that cannot be written shows up as an archive that cannot be
  // unpacked.
  payload_->WritePayloadToFile(ArchivePath());
  PostToSelf(FROM_HERE, base::Bind(&PackageFetcherCore::UnpackArchive, weak_factory_.GetWeakRef(),
                                   ArchivePath()));
}

void PackageFetcherCore::FetchDownloadUrl() {
  LOG(INFO) << "Preparing to fetch the download URL";
  proxy_->NotifyStatusChanged(kFetcherRequestingDownloadUrl);
  GetAllowedDownloadDomains(&downloader_->allowed_domains());
  base::CommandLine empty(base::FilePath{});
  const base::CommandLine& command_line = base::CommandLine::IsInitializedForCurrentProcess()
                                              ? *base::CommandLine::ForCurrentProcess()
                                              : empty;
  const std::wstring url = GetPackageServerUrl(command_line, architecture_ == 1);
  LOG(INFO) << "Fetching the download URL";
  fetch_stats_->SetTimestampAndElapsed("fetch_download_url_start_time");
  const std::string body = payload_ ? payload_->GetTrackingData() : std::string();
  if (!downloader_->Start(
          url, body,
          base::Bind(&PackageFetcherCore::OnDownloadUrlFetched, weak_factory_.GetWeakRef()),
          std::make_unique<StringResponseWriter>(&reply_text_, kMaxReplySize),
          std::make_unique<DownloadErrorReport>(fetch_stats_.get(), "fetch_download_url_"))) {
    Fail("Failed fetching the download URL", kFetcherDownloadFailed);
  }
}

void PackageFetcherCore::OnDownloadUrlFetched() {
  if (downloader_->state() != WinInetDownloader::kCompleted) {
    Fail("Failed fetching the download URL", kFetcherDownloadFailed);
    return;
  }
  proxy_->NotifyStatusChanged(kFetcherDownloadingPackage);
  VLOG(1) << "Parsing the fetched URL";
  PackageServerReply reply;
  const bool parsed = ParsePackageServerReply(reply_text_, !suite_path_.empty(), &reply);
  reply_ = std::move(reply.tree);
  if (!parsed) {
    Fail("Failed parsing json reply", kFetcherDownloadFailed);
    return;
  }
  // The downloader refuses an address with a password; the report never
  // holds it either.
  const std::string reported_url =
      base::WideToUTF8(WithoutCredentials(base::UTF8ToWide(reply.installer_url)));
  fetch_stats_->SetString("download_url", reported_url);
  installation_stats_.SetString("download_url", reported_url);
  LOG(INFO) << "Preparing to fetch the installer";

  auto writer = std::make_unique<FileResponseWriter>();
  if (!writer->Open(download_path_)) {
    Fail("Failed initializing the file to use as download destination", kFetcherDownloadFailed);
    return;
  }
  additional_files_ = std::move(reply.components);
  fetch_stats_->SetTimestampAndElapsed("download_start_time");
  installation_stats_.SetTimestamp("installation_start_download_time");
  // The package address the server gave, and any redirect from it, may be
  // on any host: the server is trusted, the package is checked. The
  // downloader checks the address as it checks a redirect: http or https,
  // without a user name or password.
  downloader_->allowed_domains().clear();
  if (!downloader_->Start(
          base::UTF8ToWide(reply.installer_url), std::string(),
          base::Bind(&PackageFetcherCore::ExtractArchive, weak_factory_.GetWeakRef(),
                     reply.installer_checksum),
          std::move(writer),
          std::make_unique<DownloadChunksReport>(fetch_stats_.get(), "download_chunks"))) {
    Fail("Failed downloading the Velmo package", kFetcherDownloadFailed);
  }
}

void PackageFetcherCore::ExtractArchive(std::string checksum) {
  fetch_stats_->SetTimestampAndElapsed("download_end_time");
  if (downloader_->state() != WinInetDownloader::kCompleted) {
    Fail("Failed downloading the Velmo package", kFetcherDownloadFailed);
    return;
  }
  if (!ChecksumMatches(download_path_, checksum)) {
    Fail("Checksum incorrect for the downloaded package", kFetcherDownloadFailed);
    return;
  }
  if (DownloadsMustBeSigned() && !VerifyAuthenticode(download_path_, GetExpectedSigner())) {
    Fail("Signature incorrect for the downloaded package", kFetcherDownloadFailed);
    return;
  }
  if (!CheckDownloadedVersion(download_path_, true, fetch_stats_.get())) {
    Fail("Downloaded package failed version check", kFetcherDownloadFailed);
    return;
  }
  fetch_stats_->SetTimestampAndElapsed("extract_start_time");
  proxy_->NotifyStatusChanged(kFetcherUnpackingPackage);
  {
    PayloadReader downloaded(download_path_);
    if (downloaded.type() != kPayloadFullPackage) {
      Fail("Could not find 7z payload in full package", kFetcherDownloadFailed);
      return;
    }
    if (!downloaded.WritePayloadToFile(ArchivePath())) {
      Fail("Could not write out 7z archive from full package", kFetcherUnpackingFailed);
      return;
    }
  }
  PostToSelf(FROM_HERE, base::Bind(&PackageFetcherCore::UnpackArchive, weak_factory_.GetWeakRef(),
                                   ArchivePath()));
}

void PackageFetcherCore::UnpackArchive(base::FilePath archive) {
  LOG(INFO) << "Unpacking files from archive";
  fetch_stats_->SetTimestampAndElapsed("unpack_start_time");
  installation_stats_.SetTimestamp("installation_start_unpacking_time");
  if (!base::CreateDirectoryTree(UnpackFolder())) {
    Fail("Could not create unpacking folder", kFetcherUnpackingFailed);
    return;
  }
  {
    SevenZipExtractor extractor(proxy_.get());
    if (extractor.Open(archive) != ERROR_SUCCESS ||
        extractor.ExtractSevenZipArchive(UnpackFolder(), nullptr) != ERROR_SUCCESS) {
      Fail("Archive unpacking failed", kFetcherUnpackingFailed);
      return;
    }
  }
  if (!PackageHoldsItsInstaller(UnpackFolder())) {
    Fail("The package does not hold its installer", kFetcherUnpackingFailed);
    return;
  }
  if (payload_ && payload_->type() != kPayloadFullPackage) {
    const std::string tracking_data = payload_->GetTrackingData();
    if (!tracking_data.empty() &&
        base::WriteFileBytes(UnpackFolder().Append(kServerTrackingDataFileName),
                             tracking_data.data(), static_cast<int>(tracking_data.size())) < 0) {
      LOG(WARNING) << "Failed saving tracking data to unpacked installer.";
    }
  }
  PostToSelf(FROM_HERE,
             base::Bind(&PackageFetcherCore::WriteWelcomeUrlPref, weak_factory_.GetWeakRef()));
  base::DeletePath(archive, false);
}

void PackageFetcherCore::WriteWelcomeUrlPref() {
  fetch_stats_->SetTimestampAndElapsed("unpack_end_time");
  installation_stats_.SetTimestamp("installation_unpack_complete_time");

  const base::DictValue* reply = nullptr;
  std::string welcome_url;
  if (reply_ && reply_->GetAsDictionary(&reply) &&
      reply->GetStringWithoutPathExpansion("url_welcome", &welcome_url)) {
    VLOG(1) << "Writing welcome page url pref";
    const base::FilePath path = UnpackFolder().Append(kInstallerPrefsIncludeFileName);
    base::SharedRef<prefs::PrefsTaskPoolHolder> pool = PrefsTaskPoolForTesting();
    if (!pool)
      pool = prefs::GetPrefsTaskPool();
    {
      base::SharedRef<prefs::JsonPrefStore> store = prefs::OpenJsonPrefStore(pool, path);
      store->SetValue("welcome-url", std::make_unique<base::TextValue>(welcome_url),
                      prefs::JsonPrefStore::kDefaultWriteFlags);
      store->CommitPendingWrite();
    }
    // The back end may read the file as soon as the package is declared
    // ready: wait until the write queued on the file's sequence is done. The
    // event is shared with the task, which may run after a wait that gave
    // up.
    auto written = std::make_shared<base::WaitableEvent>(
        base::WaitableEvent::ResetPolicy::kManual, base::WaitableEvent::InitialState::kNotSignaled);
    if (!pool->GetSequenceForFile(path)->PostTask(
            FROM_HERE,
            base::Bind([](std::shared_ptr<base::WaitableEvent> event) { event->Signal(); },
                       written))) {
      Fail("Could not queue the welcome page preference write", kFetcherUnpackingFailed);
      return;
    }
    if (!written->TimedWait(kWelcomeUrlWriteTimeout)) {
      Fail("The welcome page preference write did not end in time", kFetcherUnpackingFailed);
      return;
    }
  }

  if (additional_files_ && !additional_files_->empty()) {
    LOG(INFO) << "We have additional content";
    next_additional_file_ = 0;
    additional_file_tries_ = 0;
    AddAdditionalFileEntry();
    proxy_->NotifyStatusChanged(kFetcherDownloadingAdditionalFiles);
    DownloadAdditionalFile();
    return;
  }
  OnPackageReady();
}

void PackageFetcherCore::AddAdditionalFileEntry() {
  additional_file_stats_ = fetch_stats_->AddListEntry("addtional_files");
}

void PackageFetcherCore::NextAdditionalFile() {
  ++next_additional_file_;
  // Every component gets its own tries: one given up on must not leave the
  // next with none.
  additional_file_tries_ = 0;
  if (next_additional_file_ >= additional_files_->size()) {
    WriteFilesList();
    OnPackageReady();
    return;
  }
  AddAdditionalFileEntry();
  PostToSelf(FROM_HERE,
             base::Bind(&PackageFetcherCore::DownloadAdditionalFile, weak_factory_.GetWeakRef()));
}

bool PackageFetcherCore::WriteFilesList() {
  // The package lists its own files there; the partner files that arrived
  // are added to that list, never put in its place.
  return AppendLinesToList(UnpackFolder().Append(kFilesListFileName), files_list_names_);
}

void PackageFetcherCore::OnPackageReady() {
  fetch_stats_->SetTimestampAndElapsed("package_ready_time");
  LOG(INFO) << "Package ready.";
  installation_stats_.SetTimestamp("package_ready_time");
  fetch_stats_->SetString("result", std::string_view("package_ready"));
  proxy_->NotifyStatusChanged(kFetcherResultPackageReady);
}

void PackageFetcherCore::ReportResult(PackageStatus status) {
  ++restart_count_;
  installation_stats_.SetInteger("fetcher_restarts", static_cast<int32_t>(restart_count_));
  fetch_stats_->SetString("result", FetcherResultToString(status));
  proxy_->NotifyStatusChanged(status);
}

void PackageFetcherCore::Terminate() {
  LOG(INFO) << "Terminating the package fetcher";
  proxy_->ClearDelegates();
  if (downloader_ && downloader_->state() != WinInetDownloader::kFailed)
    downloader_->Stop();
  if (files_claimed_) {
    base::DeletePath(download_path_, false);
    base::DeletePath(ArchivePath(), false);
    base::DeletePath(UnpackFolder(), true);
    base::DeletePath(folder_.Append(kAdditionalFileTempName), false);
    if (!suite_path_.empty())
      base::DeletePath(suite_path_.RemoveExtension(), true);
  }
  weak_factory_.InvalidateWeakRefs();
  additional_try_stats_.reset();
  additional_file_stats_.reset();
  fetch_stats_.reset();
  additional_files_.reset();
  reply_.reset();
  downloader_.reset();
}

PackageFetcher::PackageFetcher(const base::FilePath& folder, StatsNode* installation_stats,
                               FetcherUIDelegate* ui, PackageFetcherDelegate* delegate,
                               PayloadReader* payload, uint32_t architecture, bool with_suite)
    : worker_(kWorkerThreadName) {
  MakeDownloadPath(folder, kDownloadPrefix, &download_path_);
  if (with_suite)
    MakeDownloadPath(folder, kSuitePrefix, &suite_path_);
  // A killed run never removes its partial download; the next one does.
  RemoveLeftoversOfEndedRuns(folder);
  const bool claimed = ClaimDownloadFiles(download_path_, &download_claim_) &&
                       (!with_suite || ClaimDownloadFiles(suite_path_, &suite_claim_));
  CHECK(worker_.Start()) << "The package fetcher needs its worker thread";
  auto proxy = base::MakeShared<PackageFetcherDelegateProxy>(ui, delegate);
  core_ = new PackageFetcherCore(proxy, payload, folder, download_path_, suite_path_,
                                 *installation_stats, architecture, claimed);
}

// static
void PackageFetcher::RemoveLeftoversOfEndedRuns(const base::FilePath& folder) {
  RemoveStaleDownloads(folder, {kDownloadPrefix, kSuitePrefix}, ProcessStartTime());
}

PackageFetcher::~PackageFetcher() {
  worker_.task_runner()->PostTask(FROM_HERE, base::Bind(
                                                 [](PackageFetcherCore* core) {
                                                   core->Terminate();
                                                   delete core;
                                                 },
                                                 core_));
  // Runs what is queued first, the termination included.
  worker_.Stop();
}

void PackageFetcherCore::SetMaxDownloadRetries(int retries) {
  downloader_->set_max_retries(retries);
}

void PackageFetcher::SetMaxDownloadRetries(int retries) {
  worker_.task_runner()->PostTask(FROM_HERE, base::Bind(&PackageFetcherCore::SetMaxDownloadRetries,
                                                        base::Unretained(core_), retries));
}

void PackageFetcher::Start() {
  worker_.task_runner()->PostTask(FROM_HERE,
                                  base::Bind(&PackageFetcherCore::Start, base::Unretained(core_)));
}

}  // namespace installer
