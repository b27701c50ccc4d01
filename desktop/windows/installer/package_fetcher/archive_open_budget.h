// The allocator the 7z decoder gets while it opens an archive. Opening reads
// the archive's header, which may itself be packed: the decoder allocates
// the header's whole unpacked size, as the header claims it, and decodes it
// into memory before anything else is looked at. A header a few megabytes
// packed can unpack to gigabytes of nothing. Every allocation of the open
// is counted here, and one that would take what is held past the budget is
// refused, before the decoder reads a single packed byte for it.
#ifndef DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_OPEN_BUDGET_H_
#define DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_OPEN_BUDGET_H_

#include <cstddef>
#include <cstdint>

#include <lzma/7zTypes.h>

namespace installer {

// What opening a package's archive may hold at once. A catalogue of the
// most entries a package may have (kMaxArchiveEntries), each named with a
// path as long as Windows takes, needs about 45 MB: its unpacked header,
// the copy of the names and the per-entry tables. Real packages of a few
// thousand entries need a few megabytes.
inline constexpr size_t kMaxArchiveOpenMemory = 64u << 20;

class ArchiveOpenBudget {
 public:
  explicit ArchiveOpenBudget(size_t budget);
  ArchiveOpenBudget(const ArchiveOpenBudget&) = delete;
  ArchiveOpenBudget& operator=(const ArchiveOpenBudget&) = delete;
  // Whatever was allocated through it must be freed through it first.
  ~ArchiveOpenBudget() = default;

  // The allocator in the decoder's form; valid as long as this object.
  ISzAllocPtr sz_alloc() const { return &adapter_.vt; }

  // The first request that was refused (0 when none was) and what was held
  // when it came.
  size_t refused_size() const { return refused_size_; }
  size_t held_when_refused() const { return held_when_refused_; }
  size_t budget() const { return budget_; }

 private:
  struct Adapter {
    ISzAlloc vt;
    ArchiveOpenBudget* owner;
  };
  static void* BudgetAlloc(ISzAllocPtr p, size_t size);
  static void BudgetFree(ISzAllocPtr p, void* address);

  void* Allocate(size_t size);
  void Free(void* address);

  const size_t budget_;
  size_t held_ = 0;
  size_t refused_size_ = 0;
  size_t held_when_refused_ = 0;
  Adapter adapter_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_PACKAGE_FETCHER_ARCHIVE_OPEN_BUDGET_H_
