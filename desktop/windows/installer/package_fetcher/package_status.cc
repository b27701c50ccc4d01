#include "desktop/windows/installer/package_fetcher/package_status.h"

namespace installer {

std::string PayloadTypeToString(PackageStatus status) {
  switch (status) {
    case kPayloadNone: return "none";
    case kPayloadTrackingData: return "tracking_data";
    case kPayloadExternalTrackingData: return "external_tracking_data";
    case kPayloadFullPackage: return "full_package";
    case kPayloadCorrupted: return "corrupted";
    default: return std::string();
  }
}

std::string FetcherResultToString(PackageStatus status) {
  switch (status) {
    case kFetcherPackageReady: return "package_ready";
    case kFetcherInitializationFailed: return "initialization_failed";
    case kFetcherDownloadFailed: return "download_failed";
    case kFetcherUnpackingFailed: return "unpacking_failed";
    default: return "invalid";
  }
}

}  // namespace installer
