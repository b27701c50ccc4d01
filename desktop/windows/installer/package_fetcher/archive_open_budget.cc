#include "desktop/windows/installer/package_fetcher/archive_open_budget.h"

#include <cstddef>
#include <cstdlib>

namespace installer {
namespace {

// Each block carries its size in front, so that freeing it gives the
// budget back; the prefix keeps the block aligned as malloc's are.
constexpr size_t kPrefix = alignof(std::max_align_t);

}  // namespace

ArchiveOpenBudget::ArchiveOpenBudget(size_t budget) : budget_(budget) {
  adapter_.vt.Alloc = &BudgetAlloc;
  adapter_.vt.Free = &BudgetFree;
  adapter_.owner = this;
}

// static
void* ArchiveOpenBudget::BudgetAlloc(ISzAllocPtr p, size_t size) {
  return reinterpret_cast<const Adapter*>(p)->owner->Allocate(size);
}

// static
void ArchiveOpenBudget::BudgetFree(ISzAllocPtr p, void* address) {
  reinterpret_cast<const Adapter*>(p)->owner->Free(address);
}

void* ArchiveOpenBudget::Allocate(size_t size) {
  if (size == 0)
    return nullptr;
  if (size > budget_ - held_) {
    // The decoder gives up with its "not enough memory"; the extractor
    // says why from what is kept here.
    if (refused_size_ == 0) {
      refused_size_ = size;
      held_when_refused_ = held_;
    }
    return nullptr;
  }
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + size));
  if (!block)
    return nullptr;
  *reinterpret_cast<size_t*>(block) = size;
  held_ += size;
  return block + kPrefix;
}

void ArchiveOpenBudget::Free(void* address) {
  if (!address)
    return;
  unsigned char* block = static_cast<unsigned char*>(address) - kPrefix;
  held_ -= *reinterpret_cast<size_t*>(block);
  std::free(block);
}

}  // namespace installer
