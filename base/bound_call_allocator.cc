#include "base/bound_call_allocator.h"

#include <cstdlib>
#include <new>
#include <vector>

#include "base/logging.h"
#include "base/threading/lock.h"
#include "base/threading/thread_local_slot.h"

namespace base::internal {

namespace {

constexpr size_t kGranule = 16;
constexpr size_t kNumClasses = 16;  // Blocks up to 256 bytes.
constexpr int kBatchSize = 32;
// A thread keeps at most this many free blocks per class.
constexpr int kMaxCachedPerClass = 2 * kBatchSize;
// The shared pool keeps at most this many batches per class.
constexpr size_t kMaxPooledBatches = 4096;

struct FreeBlock {
  FreeBlock* next;
};

struct FreeList {
  FreeBlock* head = nullptr;
  int count = 0;

  void Push(FreeBlock* block) {
    block->next = head;
    head = block;
    ++count;
  }
  FreeBlock* Pop() {
    FreeBlock* block = head;
    head = block->next;
    --count;
    return block;
  }
  // Detaches |n| blocks (n <= count) as a chain.
  FreeBlock* TakeChain(int n) {
    FreeBlock* first = head;
    FreeBlock* last = head;
    for (int i = 1; i < n; ++i)
      last = last->next;
    head = last->next;
    last->next = nullptr;
    count -= n;
    return first;
  }
};

struct ThreadCache {
  FreeList lists[kNumClasses];
};

// Chains of kBatchSize blocks, per class.
struct SharedPool {
  Lock lock;
  std::vector<FreeBlock*> batches[kNumClasses];
};

SharedPool& Pool() {
  static SharedPool* pool = new SharedPool();  // Lives as long as the process.
  return *pool;
}

void FreeChain(FreeBlock* block) {
  while (block) {
    FreeBlock* next = block->next;
    std::free(block);
    block = next;
  }
}

void DestroyThreadCache(void* value) {
  auto* cache = static_cast<ThreadCache*>(value);
  for (FreeList& list : cache->lists)
    FreeChain(list.head);
  delete cache;
}

ThreadLocalSlot& CacheSlot() {
  static ThreadLocalSlot slot;
  static const bool reserved = slot.Initialize(&DestroyThreadCache);
  (void)reserved;
  return slot;
}

ThreadCache* GetThreadCache() {
  ThreadLocalSlot& slot = CacheSlot();
  if (auto* cache = static_cast<ThreadCache*>(slot.Get())) [[likely]]
    return cache;
  if (!slot.initialized())
    return nullptr;
  auto* cache = new ThreadCache();
  if (!slot.Set(cache)) {
    delete cache;
    return nullptr;
  }
  return cache;
}

}  // namespace

// static
void* BoundCallAllocator::Allocate(size_t size) {
  size_t size_class = (size + kGranule - 1) / kGranule - 1;
  if (size_class < kNumClasses) {
    if (ThreadCache* cache = GetThreadCache()) {
      FreeList& list = cache->lists[size_class];
      if (list.count == 0) {
        SharedPool& pool = Pool();
        FreeBlock* chain = nullptr;
        {
          AutoLock hold(pool.lock);
          std::vector<FreeBlock*>& batches = pool.batches[size_class];
          if (!batches.empty()) {
            chain = batches.back();
            batches.pop_back();
          }
        }
        if (chain) {
          list.head = chain;
          list.count = kBatchSize;
        }
      }
      if (list.count > 0)
        return list.Pop();
    }
    size = (size_class + 1) * kGranule;
  }
  void* block = std::malloc(size);
  CHECK(block) << "out of memory for a bound call of " << size << " bytes";
  return block;
}

// static
void BoundCallAllocator::Free(void* block, size_t size) {
  size_t size_class = (size + kGranule - 1) / kGranule - 1;
  if (size_class >= kNumClasses) {
    std::free(block);
    return;
  }
  ThreadCache* cache = GetThreadCache();
  if (!cache) {
    std::free(block);
    return;
  }
  FreeList& list = cache->lists[size_class];
  list.Push(static_cast<FreeBlock*>(block));
  if (list.count <= kMaxCachedPerClass)
    return;
  FreeBlock* chain = list.TakeChain(kBatchSize);
  SharedPool& pool = Pool();
  {
    AutoLock hold(pool.lock);
    std::vector<FreeBlock*>& batches = pool.batches[size_class];
    if (batches.size() < kMaxPooledBatches) {
      batches.push_back(chain);
      return;
    }
  }
  FreeChain(chain);
}

}  // namespace base::internal
