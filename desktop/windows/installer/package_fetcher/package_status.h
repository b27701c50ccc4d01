// The one numbering shared by the payload type of an installer file (0 to 4)
// and the package fetcher's final result (5 to 8). Statistics reports carry
// the names.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_STATUS_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_STATUS_H_

#include <cstdint>
#include <string>

namespace installer {

using PackageStatus = uint32_t;

inline constexpr PackageStatus kPayloadNone = 0;
inline constexpr PackageStatus kPayloadTrackingData = 1;
inline constexpr PackageStatus kPayloadExternalTrackingData = 2;
inline constexpr PackageStatus kPayloadFullPackage = 3;
inline constexpr PackageStatus kPayloadCorrupted = 4;
inline constexpr PackageStatus kFetcherPackageReady = 5;
inline constexpr PackageStatus kFetcherInitializationFailed = 6;
inline constexpr PackageStatus kFetcherDownloadFailed = 7;
inline constexpr PackageStatus kFetcherUnpackingFailed = 8;

// The name of a payload type; empty for anything but 0 to 4.
std::string PayloadTypeToString(PackageStatus status);
// The name of a fetcher result; "invalid" for anything but 5 to 8.
std::string FetcherResultToString(PackageStatus status);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_STATUS_H_
