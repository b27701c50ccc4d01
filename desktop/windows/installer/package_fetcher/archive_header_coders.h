// The coders an archive's catalogue is packed with. A 7z archive may store
// its catalogue (the names, sizes and blocks of its entries) packed, and
// with a password encrypted, like its data: when the decoder cannot unpack
// it, nothing else of the archive can be read, and the log names its
// coders as it names those of a data block.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_HEADER_CODERS_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_HEADER_CODERS_H_

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace installer {

// The most bytes of the catalogue read to find its coders: their
// description takes a few dozen.
inline constexpr size_t kMaxPackedHeaderDescription = 4096;

// The coder methods of the packed catalogue that |end_header| (the bytes
// the start header points to, or their beginning) describes, in the order
// it lists them. False when the catalogue is not packed or its description
// cannot be read.
bool ReadPackedHeaderMethods(std::string_view end_header, std::vector<uint64_t>* methods);

// The same for the archive open as |archive|.
bool ReadArchiveHeaderMethods(HANDLE archive, std::vector<uint64_t>* methods);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_HEADER_CODERS_H_
