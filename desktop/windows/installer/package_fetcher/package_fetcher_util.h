// The parts of the package fetcher that need no network and no thread: the
// allowed download hosts, the names of its files, the package server's
// address and the reading of its reply.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UTIL_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UTIL_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/values.h"

namespace base {
class CommandLine;
}

namespace installer {

// The switch that points the fetcher at another package server: with a
// value, exactly that address; without one, the maker's internal server.
inline constexpr char kInternalPackageServerSwitch[] = "internal-package-server";
// The maker's internal package server (a build setting).
inline constexpr char kInternalPackageServerUrl[] = "https://packages.velmo-internal.example";

// Fills |domains| (emptied first) with the host suffixes the package
// server request may go to: the configured product domain when it is not
// the maker's, the maker's domain, its two internal domains, "localhost"
// and "127.0.0.1".
void GetAllowedDownloadDomains(std::vector<std::wstring>* domains);

// |folder| + |prefix| + "_YYYYMMDDhhmmss_<process id>_<n>.exe" of the
// local time, n counting the names this process made: runs started in the
// same second in one folder are told apart by their process, which no two
// live runs share, and one process's names by their number.
void MakeDownloadPath(const base::FilePath& folder, std::wstring_view prefix, base::FilePath* out);

// Where the package server is asked for the download address.
std::wstring GetPackageServerUrl(const base::CommandLine& command_line, bool x64);

// What the package server answered.
struct PackageServerReply {
  // The whole reply (an object), kept for its "url_welcome".
  std::unique_ptr<base::Value> tree;
  std::string installer_url;
  std::string installer_checksum;
  // Copies of the "components" entries kept: "partner_content" always,
  // "suite" only when the run asked for suite components.
  std::unique_ptr<base::ListValue> components;
};

// Parses |text|. False when it is not JSON, not an object, or lacks the
// strings "installer" and "installer_checksum".
bool ParsePackageServerReply(std::string_view text, bool with_suite, PackageServerReply* reply);

// Adds |lines| to the end of the list file |path| (made when missing), each
// ended by "\r\n". A list whose last line has no "\r\n" (legal: lines are
// separated by it) gets one first, so that no name runs into the last one.
// False (logged) when the file cannot be read or written.
bool AppendLinesToList(const base::FilePath& path, const std::vector<std::string>& lines);

// One entry of the additional components.
struct AdditionalFile {
  std::wstring location;
  std::wstring type;
  bool archive = false;
  std::string checksum;
  // Required when |archive| is false.
  std::wstring filename;
};

// Reads one component entry. False when a key is missing or of the wrong
// type, and when "filename" is anything but a plain file name (a path, a
// drive, "..", a device): it is joined to the unpacking folder.
bool ParseAdditionalFile(const base::Value& entry, AdditionalFile* file);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_PACKAGE_FETCHER_UTIL_H_
