#include "desktop/windows/installer/package_fetcher/lzma_util.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include <lzma/7zCrc.h>

#include "base/files/directory_enumerator.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/threading/lock.h"
#include "base/utf_string_conversions.h"
#include "desktop/windows/installer/package_fetcher/in_page_error_guard.h"
#include "desktop/windows/installer/package_fetcher/mapped_output_allocator.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_delegate.h"
#include "desktop/windows/installer/package_fetcher/package_fetcher_test_support.h"
#include "desktop/windows/installer/service/authenticode_test_fixtures.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::PayloadFixture;

bool Logged(const testing::ScopedLogCapture& log, std::string_view text) {
  return log.text().find(text) != std::string::npos;
}

// Receives the extractor's progress.
class ProgressRecorder : public PackageFetcherDelegate {
 public:
  void SetTotalProgress(uint32_t total) override { totals.push_back(total); }
  void SetCurrentProgress(uint32_t current) override { currents.push_back(current); }
  void NotifyStalled() override { ADD_FAILURE() << "extraction never stalls"; }
  void NotifyStatusChanged(uint32_t) override { ADD_FAILURE() << "extraction has no status"; }

  std::vector<uint32_t> totals;
  std::vector<uint32_t> currents;
};

// One total of |entries|, then each entry once, in archive order.
void ExpectProgressInOrder(const ProgressRecorder& progress, size_t entries) {
  ASSERT_EQ(1u, progress.totals.size());
  EXPECT_EQ(entries, progress.totals[0]);
  ASSERT_EQ(entries, progress.currents.size());
  for (uint32_t i = 0; i < progress.currents.size(); ++i)
    EXPECT_EQ(i, progress.currents[i]);
}

// Every file and folder below |root|, relative to it.
std::vector<std::wstring> ListTree(const base::FilePath& root) {
  std::vector<std::wstring> names;
  base::DirectoryEnumerator e(
      root, true, base::DirectoryEnumerator::FILES | base::DirectoryEnumerator::DIRECTORIES);
  for (base::FilePath p = e.Next(); !p.empty(); p = e.Next())
    names.push_back(p.value().substr(root.value().size() + 1));
  return names;
}

FILETIME LastWriteTime(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  EXPECT_TRUE(GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) << path;
  return data.ftLastWriteTime;
}

class SevenZipExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(temp_.CreateUniqueTempDir()); }

  base::FilePath Archive(const wchar_t* name) { return PayloadFixture(L"archives").Append(name); }
  base::FilePath Out() { return temp_.GetPath().Append(L"out"); }

  // Opens and extracts |name| into Out() (created first).
  DWORD Extract(const wchar_t* name, SevenZipExtractor* extractor,
                std::vector<base::FilePath>* written = nullptr) {
    EXPECT_TRUE(base::CreateDirectoryTree(Out()));
    EXPECT_EQ(0u, extractor->Open(Archive(name))) << name;
    return extractor->ExtractSevenZipArchive(Out(), written);
  }

  base::ScopedTempDir temp_;
};

TEST_F(SevenZipExtractorTest, EveryMethodUnpacksTheTreeExactly) {
  const base::FilePath tree = PayloadFixture(L"archives").Append(L"tree");
  const wchar_t* files[] = {L"a.txt", L"dir\\sub\\random.bin", L"dir\\empty.txt",
                            L"dir\\program.exe"};
  for (const wchar_t* archive : {L"lzma_solid.7z", L"lzma2_nonsolid.7z", L"x86_lzma2_solid.7z",
                                 L"lzma2_plain_header.7z", L"bcj2_lzma_solid.7z"}) {
    SCOPED_TRACE(archive);
    ASSERT_TRUE(base::DeletePath(Out(), true));
    ProgressRecorder progress;
    SevenZipExtractor extractor(&progress);
    std::vector<base::FilePath> written;
    ASSERT_EQ(0u, Extract(archive, &extractor, &written));
    EXPECT_EQ(SevenZipExtractor::kOk, extractor.status());

    for (const wchar_t* name : files) {
      std::string expected, actual;
      ASSERT_TRUE(base::ReadFileToString(tree.Append(name), &expected)) << name;
      ASSERT_TRUE(base::ReadFileToString(Out().Append(name), &actual)) << name;
      EXPECT_TRUE(expected == actual) << name;
      const FILETIME want = LastWriteTime(tree.Append(name));
      const FILETIME got = LastWriteTime(Out().Append(name));
      EXPECT_EQ(want.dwLowDateTime, got.dwLowDateTime) << name;
      EXPECT_EQ(want.dwHighDateTime, got.dwHighDateTime) << name;
    }
    EXPECT_TRUE(base::DirectoryExists(Out().Append(L"emptydir")));
    // Nothing but the archive's entries: the output buffer's file is gone.
    std::vector<std::wstring> listed = ListTree(Out());
    EXPECT_EQ(written.size(), listed.size());
    for (const base::FilePath& path : written)
      EXPECT_TRUE(base::PathExists(path)) << path;

    ExpectProgressInOrder(progress, written.size());
  }
}

// Names that reach outside the folder, names Windows cannot take for a
// file there, and names too long for it are refused before anything is
// written. The refusal names the entry, with what a log line cannot hold
// escaped, and says what is wrong with its name.
TEST_F(SevenZipExtractorTest, RefusedNamesAreShownInTheLog) {
  struct Case {
    const wchar_t* archive;
    const char* log;
  } cases[] = {
      {L"slip_parent.7z", "Archive entry 4 (..\\.x) has a name that does not stay inside "},
      {L"slip_drive.7z", "Archive entry 4 (C:\\xx) has a name that does not stay inside "},
      {L"slip_unc.7z", "has a name that does not stay inside "},
      {L"slip_rooted.7z", "Archive entry 4 (\\a.tx) has a name that does not stay inside "},
      {L"slip_stream.7z",
       "Archive entry 4 (a.t:x) has a colon in its name, which Windows takes for a stream of the "
       "file \"a.t\", not a file of its own; the archive is refused"},
      {L"slip_device.7z",
       "Archive entry 4 (NUL.x) has a name that Windows takes for the device NUL in any folder, "
       "not a file; the archive is refused"},
      {L"slip_dot.7z",
       "Archive entry 4 (.\\a.x) has a name with a part made only of dots and spaces (\".\"), "
       "which Windows does not keep as a name; the archive is refused"},
      {L"bad_utf16.7z",
       "Archive entry 4 (a\\uD800txt) has a name that is not valid UTF-16: \\uD800 is half of a "
       "surrogate pair; the archive is refused"},
      {L"empty_name.7z", "Archive entry 0 () has an empty name; the archive is refused"},
      {L"slip_control.7z",
       "Archive entry 4 (a\\x01t\\x7Fx) has a control character (\\x01) in its name, which no "
       "Windows file name may hold; the archive is refused"},
      {L"name_300.7z", "has a name that is too long: a part of it has 300 characters"},
      {L"long_name.7z", "(40000 characters)) has a name that is too long"},
      // A folder and a file of 200 characters each.
      {L"long_path.7z", "(401 characters)) would be unpacked to a path of "},
      // 250 characters, which Windows takes alone, but not below the folder
      // (the path's length is checked below).
      {L"long_path_below.7z", ") would be unpacked to a path of "},
      // Windows would make the folder "dir", where "dir \file.txt" finds
      // nothing.
      {L"trailing_space.7z",
       "Archive entry 0 (dir \\file.txt) has a name that Windows cannot hold: its part \"dir \" "
       "ends in a space, which Windows drops"},
      {L"file_and_folder.7z",
       "Archive entry 0 (x) is a file, but entry 1 (x\\y) needs a folder of that name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    ASSERT_TRUE(base::DeletePath(Out(), true));
    testing::ScopedLogCapture log;
    SevenZipExtractor extractor(nullptr);
    EXPECT_NE(0u, Extract(c.archive, &extractor));
    EXPECT_EQ(SevenZipExtractor::kBadEntryName, extractor.status());
    EXPECT_TRUE(Logged(log, c.log)) << log.text();
    EXPECT_TRUE(ListTree(Out()).empty());
    // "..\.x" would have landed beside the unpacking folder.
    EXPECT_EQ(std::vector<std::wstring>{L"out"}, ListTree(temp_.GetPath()));
  }
  // The whole path counts: the unpacking folder, a separator and the 250
  // characters of the name.
  testing::ScopedLogCapture log;
  SevenZipExtractor extractor(nullptr);
  EXPECT_NE(0u, Extract(L"long_path_below.7z", &extractor));
  EXPECT_TRUE(Logged(log, "would be unpacked to a path of " +
                              std::to_string(Out().value().size() + 1 + 250) + " characters"))
      << log.text();
}

// "installer.exe" and "INSTALLER.EXE" in blocks of their own are one file on
// Windows: which one won would depend on the threads.
TEST_F(SevenZipExtractorTest, TwoEntriesForOneFileAreRefusedBeforeAnythingIsWritten) {
  testing::ScopedLogCapture log;
  SevenZipExtractor extractor(nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), Extract(L"same_name.7z", &extractor));
  EXPECT_EQ(SevenZipExtractor::kBadEntryName, extractor.status());
  EXPECT_TRUE(Logged(log, "name the same file; the archive is refused")) << log.text();
  EXPECT_TRUE(Logged(log, "(installer.exe)")) << log.text();
  EXPECT_TRUE(Logged(log, "(INSTALLER.EXE)")) << log.text();
  EXPECT_TRUE(ListTree(Out()).empty());
}

// A 7z archive of empty files named |names|: the signature header, then a
// plain header with the names and no packed streams.
std::string EmptyEntriesArchive(const std::vector<std::wstring>& names) {
  // The header's variable-length numbers: the high bits of the first byte
  // count the bytes that follow.
  auto number = [](uint64_t value) {
    std::string out;
    for (int extra = 0; extra < 9; ++extra) {
      if (extra == 8 || value < (uint64_t{1} << (7 * extra + 7))) {
        uint8_t first = static_cast<uint8_t>(0xFF00 >> extra);
        if (extra < 8)
          first |= static_cast<uint8_t>(value >> (8 * extra));
        out += static_cast<char>(first);
        for (int i = 0; i < extra; ++i)
          out += static_cast<char>(value >> (8 * i));
        return out;
      }
    }
    return out;
  };
  // Every entry is an empty stream and an empty file: one bit each.
  std::string bits((names.size() + 7) / 8, '\xFF');
  if (names.size() % 8)
    bits.back() = static_cast<char>(0xFF << (8 - names.size() % 8));
  std::string names16;
  for (const std::wstring& name : names) {
    for (wchar_t c : name + L'\0') {
      names16 += static_cast<char>(c & 0xFF);
      names16 += static_cast<char>(c >> 8);
    }
  }
  // kHeader, kFilesInfo, the count, kEmptyStream, kEmptyFile, kName (not
  // external), kEnd of both.
  const std::string header = std::string("\x01\x05") + number(names.size()) + "\x0E" +
                             number(bits.size()) + bits + "\x0F" + number(bits.size()) + bits +
                             "\x11" + number(names16.size() + 1) + std::string(1, '\0') + names16 +
                             std::string(2, '\0');
  std::string archive("7z\xBC\xAF\x27\x1C\x00\x04", 8);
  archive.resize(32, '\0');
  auto put32 = [&archive](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
      archive[at + i] = static_cast<char>(value >> (8 * i));
  };
  CrcGenerateTable();
  put32(20, static_cast<uint32_t>(header.size()));  // The next header's size; offset 0.
  put32(28, CrcCalc(header.data(), header.size()));
  put32(8, CrcCalc(archive.data() + 12, 20));
  return archive + header;
}

// The last component of the short name the file system gives |path|.
std::wstring ShortNameOf(const base::FilePath& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
  EXPECT_TRUE(length > 0 && length < MAX_PATH) << path;
  return base::FilePath(std::wstring(buffer, length < MAX_PATH ? length : 0)).BaseName().value();
}

// The names are all distinct, but an entry may reach another's file under
// the short name the file system gives it, which no check of the names can
// know: the unpacking folder starts empty and every file is made new, so
// the second writer fails, and both entries are named; a file reaching a
// folder under its short name is refused as a file in place of a folder.
TEST_F(SevenZipExtractorTest, AShortNameOfAnotherEntryFailsNamingBoth) {
  // The short names as a fresh folder gives them.
  const base::FilePath scratch = temp_.GetPath().Append(L"names");
  ASSERT_TRUE(base::CreateDirectoryTree(scratch.Append(L"resources")));
  ASSERT_EQ(0, base::WriteFileBytes(scratch.Append(L"installer.exe"), "", 0));
  ASSERT_EQ(0, base::WriteFileBytes(scratch.Append(L"resources\\installer.exe"), "", 0));
  const std::wstring folder_alias = ShortNameOf(scratch.Append(L"resources"));
  const std::wstring file_alias = ShortNameOf(scratch.Append(L"installer.exe"));
  const std::wstring file_alias_below = ShortNameOf(scratch.Append(L"resources\\installer.exe"));
  ASSERT_NE(L"resources", folder_alias);
  ASSERT_NE(L"installer.exe", file_alias);
  struct Case {
    std::vector<std::wstring> names;
    // The entry that made the file, and the one that fails on it; or the
    // refusal logged.
    int owner;
    int failing;
    std::string log;
  } cases[] = {
      {{L"resources\\common.pak", folder_alias + L"\\common.pak"}, 0, 1},
      {{L"installer.exe", file_alias}, 0, 1},
      // The maker's own name reaches the file through a short name: the
      // name the file system holds leads to no entry.
      {{L"resources\\common.pak", folder_alias + L"\\installer.exe",
        L"resources\\" + file_alias_below},
       1,
       2},
      {{L"resources\\common.pak", folder_alias},
       -1,
       -1,
       "Archive entry 1 (" + base::WideToUTF8(folder_alias) + ") is a file, but "},
  };
  const base::FilePath archive = temp_.GetPath().Append(L"alias.7z");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names.back());
    ASSERT_TRUE(base::DeletePath(Out(), true));
    ASSERT_TRUE(base::CreateDirectoryTree(Out()));
    const std::string bytes = EmptyEntriesArchive(c.names);
    ASSERT_EQ(static_cast<int>(bytes.size()),
              base::WriteFileBytes(archive, bytes.data(), static_cast<int>(bytes.size())));
    testing::ScopedLogCapture log;
    SevenZipExtractor extractor(nullptr);
    ASSERT_EQ(0u, extractor.Open(archive));
    EXPECT_NE(0u, extractor.ExtractSevenZipArchive(Out(), nullptr));
    EXPECT_EQ(SevenZipExtractor::kCreateFailed, extractor.status());
    const std::string expected =
        c.owner < 0
            ? c.log
            : "Archive entries " + std::to_string(c.owner) + " (" +
                  base::WideToUTF8(c.names[c.owner]) + ") and " + std::to_string(c.failing) + " (" +
                  base::WideToUTF8(c.names[c.failing]) + ") both name the file ";
    EXPECT_TRUE(Logged(log, expected)) << log.text();
  }
}

// What the files directly in |folder| take on the disk: what the volume
// gave them, not their length.
uint64_t AllocatedBytesIn(const base::FilePath& folder) {
  uint64_t total = 0;
  base::DirectoryEnumerator e(folder, false, base::DirectoryEnumerator::FILES);
  for (base::FilePath p = e.Next(); !p.empty(); p = e.Next()) {
    // Attributes only: no sharing conflict with the extractor's handles.
    base::win::ScopedHandle file(CreateFileW(p.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_EXISTING, 0, nullptr));
    FILE_STANDARD_INFO info = {};
    if (!file.IsValid() ||
        !GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &info, sizeof(info))) {
      continue;  // Gone meanwhile.
    }
    total += static_cast<uint64_t>(info.AllocationSize.QuadPart);
  }
  return total;
}

// The unpacking folder of the test below, and the most its files took.
base::FilePath g_measured_folder;
std::atomic<uint64_t> g_peak_allocated{0};

void RecordAllocated() {
  const uint64_t now = AllocatedBytesIn(g_measured_folder);
  uint64_t peak = g_peak_allocated.load();
  while (now > peak && !g_peak_allocated.compare_exchange_weak(peak, now)) {
  }
}

// Blocks whose headers claim far more than their data holds. The stored one
// must unpack to exactly its packed size and is refused before anything is
// set aside for it; the LZMA one claims no more than LZMA could produce, and
// fails where its data ends, having cost the disk little more than what it
// really decoded.
TEST_F(SevenZipExtractorTest, LyingBlocksFailWithoutCostingTheirClaim) {
  struct Case {
    const wchar_t* archive;
    const char* log;
  } cases[] = {
      {L"lying_copy.7z",
       "Archive block 0 (entry payload.bin) claims 4000000000 bytes from 2000000 bytes of input "
       "in its stored (Copy) coder"},
      {L"lying_lzma.7z", "in block 0 (entry payload.bin)"},
      {L"lying_bcj2.7z", "in its BCJ2 coder: more than its inputs hold"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    ASSERT_TRUE(base::DeletePath(Out(), true));
    ASSERT_TRUE(base::CreateDirectoryTree(Out()));
    int64_t archive_size = 0;
    ASSERT_TRUE(base::GetFileSize(Archive(c.archive), &archive_size));
    g_measured_folder = Out();
    g_peak_allocated.store(0);
    // Sampled while the threads decode, and by each decoding thread right
    // after its decoder gave up, while the output buffer is still there.
    std::atomic<bool> done{false};
    std::thread sampler([&] {
      while (!done.load()) {
        RecordAllocated();
        Sleep(1);
      }
    });
    SevenZipExtractor::SetDecodeHookForTesting([](const void*) { RecordAllocated(); });
    testing::ScopedLogCapture log;
    SevenZipExtractor extractor(nullptr);
    EXPECT_EQ(0u, extractor.Open(Archive(c.archive)));
    const DWORD result = extractor.ExtractSevenZipArchive(Out(), nullptr);
    SevenZipExtractor::SetDecodeHookForTesting(nullptr);
    done.store(true);
    sampler.join();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), result);
    EXPECT_EQ(SevenZipExtractor::kDecodingFailed, extractor.status());
    EXPECT_TRUE(Logged(log, c.log)) << log.text();
    EXPECT_LT(g_peak_allocated.load(), 2 * static_cast<uint64_t>(archive_size));
    EXPECT_TRUE(ListTree(Out()).empty());
  }
}

TEST_F(SevenZipExtractorTest, DamagedArchivesFailWithTheirStatus) {
  struct Case {
    const wchar_t* archive;
    SevenZipExtractor::Status status;
    const char* log;
  } cases[] = {
      {L"truncated.7z", SevenZipExtractor::kNotSevenZip,
       "Error returned by SzArchiveOpen: 6 - the archive ends early (truncated download?)"},
      {L"flipped_header.7z", SevenZipExtractor::kNotSevenZip,
       "Error returned by SzArchiveOpen: 16 - damaged archive headers"},
      {L"flipped_stream.7z", SevenZipExtractor::kDecodingFailed,
       "Error returned by SzExtract: 1 - data error in block 0 (entry a.txt)"},
      {L"bad_crc.7z", SevenZipExtractor::kDecodingFailed,
       "Error returned by SzExtract: 3 - CRC mismatch in entry a.txt (block 0)"},
      // A block claiming 100 GB from 55 packed bytes.
      {L"huge_size.7z", SevenZipExtractor::kDecodingFailed,
       "Archive block 0 (entry one.txt) claims 100000000000 bytes from 55 bytes of input in its "
       "LZMA coder"},
      {L"many_entries.7z", SevenZipExtractor::kNotSevenZip,
       "Error returned by SzArchiveOpen: 16 - damaged archive headers"},
      // Refused before the header's claimed 1 GiB is set aside.
      {L"header_claim.7z", SevenZipExtractor::kNotSevenZip,
       "Archive header would take 1073741824 bytes of memory at once to open"},
      {L"too_many_entries.7z", SevenZipExtractor::kNotSevenZip,
       "Archive has 50001 entries, more than the 50000 any package may hold"},
      // A PE file is no archive.
      {L"..\\plain.exe", SevenZipExtractor::kNotSevenZip,
       "Error returned by SzArchiveOpen: 17 - not a 7z archive"},
      // Two allocations of 34 MB, each within the budget of 64 MiB: the
      // second is refused for what the first holds.
      {L"header_sum.7z", SevenZipExtractor::kNotSevenZip,
       " bytes of memory at once to open (with 34"},
      {L"empty.7z", SevenZipExtractor::kNotSevenZip,
       "Archive has no entries: it holds no package; the archive is refused"},
      {L"signature_only.7z", SevenZipExtractor::kNotSevenZip,
       "Archive is 6 bytes long, shorter than the 32-byte start header every 7z archive begins "
       "with; the archive is refused"},
      {L"deflate.7z", SevenZipExtractor::kDecodingFailed,
       "Archive block 0 (entry one.txt) is packed with coders this installer cannot decode: "
       "Deflate (method 040108); the archive is refused"},
      // The catalogue itself cannot be unpacked: its coders are named as a
      // block's are.
      {L"encrypted_header.7z", SevenZipExtractor::kNotSevenZip,
       "Archive header is packed with coders this installer cannot decode: AES-256 (encrypted) "
       "(method 06F10701); the archive is refused"},
      {L"unknown_header_coder.7z", SevenZipExtractor::kNotSevenZip,
       "Archive header is packed with coders this installer cannot decode: unknown (method "
       "7F7F7F); the archive is refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    ASSERT_TRUE(base::DeletePath(Out(), true));
    testing::ScopedLogCapture log;
    SevenZipExtractor extractor(nullptr);
    EXPECT_NE(0u, Extract(c.archive, &extractor));
    EXPECT_EQ(c.status, extractor.status());
    EXPECT_TRUE(Logged(log, c.log)) << log.text();
    // An archive refused as a whole leaves nothing behind.
    if (c.status == SevenZipExtractor::kNotSevenZip) {
      EXPECT_TRUE(ListTree(Out()).empty());
    }
  }
}

TEST_F(SevenZipExtractorTest, OpenAndExtractWithoutAnArchive) {
  SevenZipExtractor extractor(nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
            extractor.Open(temp_.GetPath().Append(L"missing.7z")));
  EXPECT_EQ(SevenZipExtractor::kArchiveNotFound, extractor.status());
  EXPECT_NE(0u, extractor.ExtractSevenZipArchive(Out(), nullptr));

  // Held open by another writer without sharing: found, but not opened.
  const base::FilePath locked = temp_.GetPath().Append(L"locked.7z");
  ASSERT_TRUE(base::CopySingleFile(Archive(L"lzma_solid.7z"), locked));
  base::win::ScopedHandle holder(
      CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.IsValid());
  EXPECT_NE(0u, extractor.Open(locked));
  EXPECT_EQ(SevenZipExtractor::kArchiveNotOpened, extractor.status());
}

TEST_F(SevenZipExtractorTest, AnExistingFileInTheWayFailsWithCreateFile) {
  ASSERT_TRUE(base::CreateDirectoryTree(Out().Append(L"dir")));
  // A folder where the archive has a file.
  ASSERT_TRUE(base::CreateDirectoryTree(Out().Append(L"a.txt")));
  testing::ScopedLogCapture log;
  SevenZipExtractor extractor(nullptr);
  EXPECT_NE(0u, Extract(L"lzma2_nonsolid.7z", &extractor));
  EXPECT_EQ(SevenZipExtractor::kCreateFailed, extractor.status());
  EXPECT_TRUE(Logged(log, "Error returned by CreateFile: "));
}

// Committed private memory of this process (heap and other private pages;
// file-backed views do not count).
size_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  EXPECT_TRUE(GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)));
  return counters.PagefileUsage;
}

// The solid block of about 300 MiB is decoded into the file-backed view:
// the heap never has to hold it.
TEST_F(SevenZipExtractorTest, ALargeSolidBlockNeedsLittlePrivateMemory) {
  const base::FilePath archive = PayloadFixture(L"large").Append(L"pe300.7z");
  std::string manifest;
  ASSERT_TRUE(base::ReadFileToString(archive.AddExtension(L"txt"), &manifest));
  const size_t expected_files = strtoull(manifest.c_str(), nullptr, 10);
  const uint64_t expected_bytes = strtoull(manifest.c_str() + manifest.find('\n') + 1, nullptr, 10);
  ASSERT_GT(expected_bytes, 300ull << 20);

  const size_t baseline = PrivateBytes();
  std::atomic<bool> done{false};
  std::atomic<size_t> peak{baseline};
  // Windows keeps a peak figure, Wine does not: sample it instead.
  std::thread sampler([&] {
    while (!done.load()) {
      const size_t now = PrivateBytes();
      if (now > peak.load())
        peak.store(now);
      Sleep(2);
    }
  });
  ASSERT_TRUE(base::CreateDirectoryTree(Out()));
  SevenZipExtractor extractor(nullptr);
  ASSERT_EQ(0u, extractor.Open(archive));
  std::vector<base::FilePath> written;
  const DWORD result = extractor.ExtractSevenZipArchive(Out(), &written);
  done.store(true);
  sampler.join();
  ASSERT_EQ(0u, result);

  EXPECT_LT(peak.load() - baseline, 100u << 20) << "peak private bytes above the start";
  EXPECT_EQ(expected_files, written.size());
  uint64_t bytes = 0;
  for (const base::FilePath& path : written) {
    int64_t size = 0;
    ASSERT_TRUE(base::GetFileSize(path, &size)) << path;
    bytes += static_cast<uint64_t>(size);
  }
  EXPECT_EQ(expected_bytes, bytes);
}

// What a failing page of the output buffer raises (once there is a buffer:
// an empty file needs none).
void RaiseInPageErrorIn(const void* buffer) {
  if (!buffer)
    return;
  ULONG_PTR info[3] = {1, reinterpret_cast<ULONG_PTR>(buffer) + 10, 0xC0000185};
  RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
}

// In one block, or on any of the threads decoding many blocks at once.
TEST_F(SevenZipExtractorTest, AFailingPageOfTheOutputBufferEndsTheExtraction) {
  for (const wchar_t* archive : {L"lzma_solid.7z", L"many_blocks.7z"}) {
    SCOPED_TRACE(archive);
    ASSERT_TRUE(base::DeletePath(Out(), true));
    testing::ScopedLogCapture log;
    SevenZipExtractor::SetDecodeHookForTesting(&RaiseInPageErrorIn);
    SevenZipExtractor extractor(nullptr);
    const DWORD result = Extract(archive, &extractor);
    SevenZipExtractor::SetDecodeHookForTesting(nullptr);
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), result);
    EXPECT_EQ(SevenZipExtractor::kInPageError, extractor.status());
    EXPECT_EQ(0xC0000185u, extractor.in_page_nt_status());
    EXPECT_TRUE(Logged(log, "EXCEPTION_IN_PAGE_ERROR while accessing mapped memory; NTSTATUS = "));
    // The output buffers' files went with the extraction.
    for (const std::wstring& name : ListTree(Out()))
      EXPECT_EQ(std::wstring::npos, name.find(L".tmp")) << name;
  }

  // Extracting works again afterwards.
  ASSERT_TRUE(base::DeletePath(Out(), true));
  SevenZipExtractor again(nullptr);
  EXPECT_EQ(0u, Extract(L"lzma_solid.7z", &again));
}

// The threads that ran the decoder, recorded by the decode hook.
base::Lock g_decoder_threads_lock;
std::set<DWORD> g_decoder_threads;

void RecordDecoderThread(const void*) {
  base::AutoLock hold(g_decoder_threads_lock);
  g_decoder_threads.insert(GetCurrentThreadId());
}

// An archive of many solid blocks: they are decoded on several threads at
// once, and every file comes out whole, whichever thread wrote it.
TEST_F(SevenZipExtractorTest, ManyBlocksAreDecodedInParallelAndComeOutWhole) {
  g_decoder_threads.clear();
  SevenZipExtractor::SetDecodeHookForTesting(&RecordDecoderThread);
  ProgressRecorder progress;
  SevenZipExtractor extractor(&progress);
  std::vector<base::FilePath> written;
  const DWORD result = Extract(L"many_blocks.7z", &extractor, &written);
  SevenZipExtractor::SetDecodeHookForTesting(nullptr);
  ASSERT_EQ(0u, result);
  EXPECT_EQ(SevenZipExtractor::kOk, extractor.status());

  SYSTEM_INFO system = {};
  GetSystemInfo(&system);
  if (system.dwNumberOfProcessors > 1) {
    EXPECT_LT(1u, g_decoder_threads.size());
  }
  EXPECT_EQ(0u, g_decoder_threads.count(GetCurrentThreadId()));

  // The same tree as the one packed, byte for byte, and nothing else.
  const base::FilePath tree = PayloadFixture(L"archives").Append(L"blocks");
  std::vector<std::wstring> expected = ListTree(tree);
  std::vector<std::wstring> actual = ListTree(Out());
  std::sort(expected.begin(), expected.end());
  std::sort(actual.begin(), actual.end());
  EXPECT_EQ(expected, actual);
  size_t files = 0;
  for (const std::wstring& name : expected) {
    if (base::DirectoryExists(tree.Append(name)))
      continue;
    ++files;
    std::string want, got;
    ASSERT_TRUE(base::ReadFileToString(tree.Append(name), &want)) << name;
    ASSERT_TRUE(base::ReadFileToString(Out().Append(name), &got)) << name;
    EXPECT_TRUE(want == got) << name;
  }
  EXPECT_GE(files, 25u);
  EXPECT_EQ(expected.size(), written.size());

  // Progress comes on this thread, for each entry once, in archive order.
  ExpectProgressInOrder(progress, written.size());
}

// A damaged block fails the whole extraction with its status, whichever
// thread finds it; the threads stop and take their buffers' files along.
// (An in-page error on a decoding thread: see the test above.)
TEST_F(SevenZipExtractorTest, ADamagedBlockAmongManyFailsTheExtraction) {
  testing::ScopedLogCapture log;
  SevenZipExtractor extractor(nullptr);
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE),
            Extract(L"many_blocks_late_damage.7z", &extractor));
  EXPECT_EQ(SevenZipExtractor::kDecodingFailed, extractor.status());
  EXPECT_TRUE(Logged(log, "Error returned by SzExtract: "));
  for (const std::wstring& name : ListTree(Out()))
    EXPECT_EQ(std::wstring::npos, name.find(L".tmp")) << name;
}

TEST(MappedOutputAllocatorTest, BlocksLiveInTheBackingFile) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  {
    MappedOutputAllocator allocator(temp.GetPath());
    ASSERT_TRUE(allocator.has_backing_file());
    EXPECT_EQ(nullptr, allocator.Allocate(0));

    const size_t size = 3 * 1024 * 1024 + 5;
    char* block = static_cast<char*>(allocator.Allocate(size));
    ASSERT_NE(nullptr, block);
    EXPECT_TRUE(allocator.IsInMappedView(block));
    EXPECT_TRUE(allocator.IsInMappedView(block + size - 1));
    EXPECT_FALSE(allocator.IsInMappedView(block + size));
    // A fresh block reads as zeros, never as what the disk held before.
    EXPECT_EQ(static_cast<ptrdiff_t>(size), std::count(block, block + size, '\0'));
    memset(block, 0x5A, size);
    // The backing file has the block's size while it is mapped.
    std::vector<std::wstring> files = ListTree(temp.GetPath());
    ASSERT_EQ(1u, files.size());
    int64_t file_size = 0;
    ASSERT_TRUE(base::GetFileSize(temp.GetPath().Append(files[0]), &file_size));
    EXPECT_EQ(static_cast<int64_t>(size), file_size);

    // One block is mapped at a time; a second one comes from the heap.
    char* second = static_cast<char*>(allocator.Allocate(64));
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(allocator.IsInMappedView(second));
    allocator.Free(second);

    allocator.Free(block);
    EXPECT_FALSE(allocator.IsInMappedView(block));
    // The next block is mapped again, through the decoder's interface.
    void* third = ISzAlloc_Alloc(allocator.sz_alloc(), 4096);
    EXPECT_TRUE(allocator.IsInMappedView(third));
    ISzAlloc_Free(allocator.sz_alloc(), third);
  }
  // Closing the backing file deleted it.
  EXPECT_TRUE(ListTree(temp.GetPath()).empty());

  MappedOutputAllocator heap_only(temp.GetPath().Append(L"missing"));
  EXPECT_FALSE(heap_only.has_backing_file());
  void* block = heap_only.Allocate(100);
  ASSERT_NE(nullptr, block);
  EXPECT_FALSE(heap_only.IsInMappedView(block));
  heap_only.Free(block);
}

// The block's file takes the disk only as its stretches are first touched,
// in whatever order: a stretch written out of order (as the BCJ2 decoder
// writes the end of its buffer first) keeps its bytes when the stretches
// before it are reached later.
TEST(MappedOutputAllocatorTest, TheBackingFileGrowsAsTheBlockIsWritten) {
  base::ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  MappedOutputAllocator allocator(temp.GetPath());
  ASSERT_TRUE(allocator.has_backing_file());
  const size_t size = 256u << 20;
  char* block = static_cast<char*>(allocator.Allocate(size));
  ASSERT_NE(nullptr, block);
  ASSERT_TRUE(allocator.IsInMappedView(block));

  memset(block + size - 100000, 0x77, 100000);
  block[0] = 1;
  EXPECT_LT(AllocatedBytesIn(temp.GetPath()), 8u << 20) << "a claim of 256 MiB";
  for (size_t at = 0; at < size - 100000; at += 4096)
    block[at] = static_cast<char>(at >> 12);
  EXPECT_GE(AllocatedBytesIn(temp.GetPath()), (256u << 20) - (1u << 20));
  for (size_t at = 4096; at < size - 100000; at += 4096)
    ASSERT_EQ(static_cast<char>(at >> 12), block[at]) << at;
  EXPECT_EQ(100000, std::count(block + size - 100000, block + size, 0x77));
  EXPECT_EQ(0, block[size - 100001]);
  allocator.Free(block);
  EXPECT_LT(AllocatedBytesIn(temp.GetPath()), 1u << 20) << "after the block went";
}

// Guarded memory for the tests below: [begin, begin + size).
struct Range {
  const char* begin;
  size_t size;
};

bool InRange(void* context, const void* address) {
  const Range* range = static_cast<const Range*>(context);
  const char* at = static_cast<const char*>(address);
  return at >= range->begin && at < range->begin + range->size;
}

// Raises the in-page error a failed page read of |context| would raise.
void RaiseInPageError(void* context) {
  ULONG_PTR info[3] = {0, reinterpret_cast<ULONG_PTR>(context), 0xC000009C};
  RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, info);
}

TEST(InPageErrorGuardTest, TakesOnlyErrorsInsideItsMemory) {
  char inner[16];
  char outer[16];
  Range inner_range = {inner, sizeof(inner)};
  Range outer_range = {outer, sizeof(outer)};

  DWORD status = 0;
  EXPECT_FALSE(
      RunWithInPageErrorGuard(&RaiseInPageError, inner + 4, &InRange, &inner_range, &status));
  EXPECT_EQ(0xC000009Cu, status);

  // An address the inner guard does not own goes on to the outer one.
  struct Nested {
    Range* inner_range;
    char* address;
    bool inner_result;
  } nested = {&inner_range, outer + 1, true};
  DWORD outer_status = 0;
  DWORD inner_status = 0;
  auto run_inner = [](void* context) {
    auto* n = static_cast<Nested*>(context);
    DWORD unused = 0;
    n->inner_result =
        RunWithInPageErrorGuard(&RaiseInPageError, n->address, &InRange, n->inner_range, &unused);
  };
  EXPECT_FALSE(RunWithInPageErrorGuard(run_inner, &nested, &InRange, &outer_range, &outer_status));
  EXPECT_EQ(0xC000009Cu, outer_status);
  EXPECT_EQ(0u, inner_status);

  // A call that does not fault returns normally, and the guard is gone
  // afterwards: a later guard on the thread still works.
  int calls = 0;
  EXPECT_TRUE(RunWithInPageErrorGuard([](void* c) { ++*static_cast<int*>(c); }, &calls, &InRange,
                                      &inner_range, &status));
  EXPECT_EQ(1, calls);
  status = 0;
  EXPECT_FALSE(RunWithInPageErrorGuard(&RaiseInPageError, inner, &InRange, &inner_range, &status));
  EXPECT_EQ(0xC000009Cu, status);
}

}  // namespace
}  // namespace installer
