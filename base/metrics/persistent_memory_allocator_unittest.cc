#include "base/metrics/persistent_memory_allocator.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_sample_set.h"
#include "base/process.h"
#include "base/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr size_t kSegmentSize = 64 * 1024;
constexpr uint32_t kTypeA = 0x1111;
constexpr uint32_t kTypeB = 0x2222;

uint32_t& Field(const PersistentMemoryAllocator& allocator, uint32_t offset) {
  return *reinterpret_cast<uint32_t*>(
      const_cast<char*>(static_cast<const char*>(allocator.data())) + offset);
}

// Every reference of the iterable queue, in order.
std::vector<Reference> Walk(const PersistentMemoryAllocator& allocator) {
  std::vector<Reference> refs;
  PersistentMemoryAllocator::Iterator iterator(&allocator);
  uint32_t type;
  while (Reference ref = iterator.GetNext(&type))
    refs.push_back(ref);
  return refs;
}

// The private memory committed in this process, in bytes.
uint64_t CommittedPrivateBytes() {
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* address = nullptr;
       ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += region.RegionSize;
    if (region.RegionSize == 0)
      break;
  }
  return total;
}

TEST(PersistentMemoryAllocatorTest, ARefusedLocalSegmentGivesItsMemoryBack) {
  constexpr size_t kSize = 64 * 1024 * 1024 + 4;  // not a multiple of 8: refused
  const uint64_t before = CommittedPrivateBytes();
  for (int i = 0; i < 4; ++i) {
    LocalPersistentMemoryAllocator refused(kSize, 0);
    EXPECT_FALSE(refused.IsValid());
  }
  const uint64_t after = CommittedPrivateBytes();
  // Four lost segments would be 256 MiB.
  EXPECT_LT(after, before + 64 * 1024 * 1024) << before << " -> " << after;
}

TEST(PersistentMemoryAllocatorTest, AllocatesWithinPagesAndMarksFull) {
  LocalPersistentMemoryAllocator allocator(kSegmentSize, 7);
  ASSERT_TRUE(allocator.IsValid());
  EXPECT_EQ(7u, allocator.Id());
  EXPECT_EQ(56u, allocator.used());

  // Larger than a page once rounded: refused without touching the segment.
  EXPECT_EQ(0u, allocator.Allocate(4096 - 16 + 1, kTypeA));
  EXPECT_EQ(0u, allocator.Allocate(0x3FFFFFF1, kTypeA));
  EXPECT_EQ(56u, allocator.used());
  EXPECT_FALSE(allocator.IsCorrupt());
  EXPECT_FALSE(allocator.IsFull());

  BucketBoundaries size_boundaries(4);
  Histogram::FillLinearRanges(1, 3000, &size_boundaries);
  std::unique_ptr<HistogramBase> sizes = Histogram::PersistentCreate(
      "Allocator.Sizes", 1, 3000, &size_boundaries, nullptr, nullptr, nullptr, nullptr);
  allocator.SetAllocationSizeHistogram(sizes.get());
  const Reference first = allocator.Allocate(3000, kTypeA);
  EXPECT_EQ(56u, first);
  EXPECT_EQ(3000u, allocator.GetAllocSize(first));
  // 3016 bytes up to 3072 leave 1024 in the page: a 2000-byte request starts
  // the next page and the rest becomes a filler.
  const Reference second = allocator.Allocate(2000, kTypeB);
  EXPECT_EQ(0u, allocator.Allocate(5000, kTypeB));
  allocator.SetAllocationSizeHistogram(nullptr);
  // Each request's size, and 0 for the refused one.
  std::unique_ptr<HistogramSampleSet> recorded = sizes->TakeSnapshot();
  EXPECT_EQ(3, recorded->TotalCount());
  EXPECT_EQ(1, recorded->GetCount(0));
  EXPECT_EQ(int64_t{5000}, recorded->sum());
  EXPECT_EQ(4096u, second);
  EXPECT_EQ(1024u, Field(allocator, 3072));
  EXPECT_EQ(PersistentMemoryAllocator::kFillerCookie, Field(allocator, 3072 + 4));
  EXPECT_EQ(0u, allocator.GetAllocSize(3072));
  EXPECT_FALSE(allocator.IsCorrupt());

  // 4096 + 2016 = 6112; a request of 2048 needs 2064 and leaves 16 bytes in
  // the page, too few for any block: they join it.
  const Reference third = allocator.Allocate(2048, kTypeA);
  EXPECT_EQ(6112u, third);
  EXPECT_EQ(8192u - 6112u - 16u, allocator.GetAllocSize(third));
  EXPECT_EQ(8192u, allocator.used());

  EXPECT_EQ(kTypeB, allocator.GetType(second));
  EXPECT_NE(nullptr, allocator.GetBlockData(second, kTypeB, 2000));
  EXPECT_EQ(nullptr, allocator.GetBlockData(second, kTypeA, 0));
  EXPECT_EQ(nullptr, allocator.GetBlockData(second, kTypeB, 2001));
  EXPECT_EQ(nullptr, allocator.GetBlockData(second + 8, 0, 0));
  EXPECT_FALSE(allocator.ChangeType(second, kTypeA, kTypeA));
  EXPECT_TRUE(allocator.ChangeType(second, kTypeA, kTypeB));
  EXPECT_EQ(kTypeA, allocator.GetType(second));

  int blocks = 0;
  while (allocator.Allocate(1000, kTypeA))
    ++blocks;
  EXPECT_GT(blocks, 40);
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_FALSE(allocator.IsCorrupt());
  // What is left is too small for the refused block.
  EXPECT_LT(kSegmentSize - allocator.used(), 1016u);
}

TEST(PersistentMemoryAllocatorTest, IteratesEachLinkedBlockOnceInOrder) {
  LocalPersistentMemoryAllocator allocator(kSegmentSize, 0);
  EXPECT_TRUE(Walk(allocator).empty());
  const Reference a = allocator.Allocate(10, kTypeA);
  const Reference b = allocator.Allocate(20, kTypeB);
  const Reference unlinked = allocator.Allocate(30, kTypeA);
  const Reference c = allocator.Allocate(40, kTypeA);
  ASSERT_NE(0u, unlinked);
  allocator.MakeIterable(a);
  allocator.MakeIterable(b);
  allocator.MakeIterable(a);
  allocator.MakeIterable(c);
  EXPECT_EQ((std::vector<Reference>{a, b, c}), Walk(allocator));

  PersistentMemoryAllocator::Iterator of_type(&allocator);
  EXPECT_EQ(a, of_type.GetNextOfType(kTypeA));
  EXPECT_EQ(c, of_type.GetNextOfType(kTypeA));
  EXPECT_EQ(0u, of_type.GetNextOfType(kTypeA));
  // An iterator at the end picks up what is linked later.
  const Reference d = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(d);
  EXPECT_EQ(d, of_type.GetNextOfType(kTypeA));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocatorTest, OpenerChecksTheCreatorsData) {
  LocalPersistentMemoryAllocator created(kSegmentSize, 42);
  const Reference ref = created.Allocate(100, kTypeA);
  created.MakeIterable(ref);
  void* memory = const_cast<void*>(created.data());

  PersistentMemoryAllocator same(memory, kSegmentSize, 4096, 42, false);
  EXPECT_TRUE(same.IsValid());
  EXPECT_EQ((std::vector<Reference>{ref}), Walk(same));
  PersistentMemoryAllocator any_id(memory, kSegmentSize, 4096, 0, true);
  EXPECT_TRUE(any_id.IsValid());

  EXPECT_FALSE(PersistentMemoryAllocator(memory, kSegmentSize, 4096, 43, false).IsValid());
  EXPECT_FALSE(PersistentMemoryAllocator(memory, kSegmentSize, 8192, 42, false).IsValid());
  // A mapping shorter than the segment its creator made.
  EXPECT_FALSE(PersistentMemoryAllocator(memory, kSegmentSize / 2, 4096, 42, true).IsValid());
  Field(created, 4) = PersistentMemoryAllocator::kSegmentVersion + 1;
  EXPECT_FALSE(PersistentMemoryAllocator(memory, kSegmentSize, 4096, 42, true).IsValid());

  // A mapping whose creator has not formatted it yet is not an opener's to
  // format.
  const std::wstring name = L"Local\\velmo-blank-segment-" + std::to_wstring(GetCurrentProcessId());
  win::ScopedHandle blank(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             kSegmentSize, name.c_str()));
  ASSERT_TRUE(blank.IsValid());
  EXPECT_EQ(nullptr, SharedPersistentMemoryAllocator::Open(name, 0, false));
  // Had the first opener formatted it, this one would accept it.
  EXPECT_EQ(nullptr, SharedPersistentMemoryAllocator::Open(name, 0, true));
}

TEST(PersistentMemoryAllocatorTest, LoopingQueueIsCorruptionNotAHang) {
  LocalPersistentMemoryAllocator allocator(kSegmentSize, 0);
  std::vector<Reference> refs;
  for (int i = 0; i < 3; ++i) {
    refs.push_back(allocator.Allocate(32, kTypeA));
    allocator.MakeIterable(refs.back());
  }
  // The last block points back at the first.
  Field(allocator, refs[2] + 12) = refs[0];
  std::vector<Reference> walked = Walk(allocator);
  EXPECT_LE(walked.size(), allocator.used() / 24 + 1);
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_TRUE(Field(allocator, 28) & PersistentMemoryAllocator::kFlagCorrupt);

  // A writer following such a queue from the tail stops too.
  LocalPersistentMemoryAllocator writer(kSegmentSize, 0);
  const Reference x = writer.Allocate(32, kTypeA);
  const Reference y = writer.Allocate(32, kTypeA);
  writer.MakeIterable(x);
  writer.MakeIterable(y);
  Field(writer, y + 12) = x;
  Field(writer, 36) = x;
  writer.MakeIterable(writer.Allocate(32, kTypeA));
  EXPECT_TRUE(writer.IsCorrupt());
  EXPECT_EQ(0u, writer.Allocate(32, kTypeA));
}

// Another process may have damaged the segment: nothing past the used space,
// nor past the segment, is ever handed out.
TEST(PersistentMemoryAllocatorTest, DamagedSegmentGivesNothingPastItsUsedSpace) {
  LocalPersistentMemoryAllocator allocator(kSegmentSize, 0);
  const Reference a = allocator.Allocate(32, kTypeA);
  const Reference b = allocator.Allocate(32, kTypeA);
  // A size field that runs past the used space.
  Field(allocator, b) = 4096;
  EXPECT_EQ(nullptr, allocator.GetBlockData(b, kTypeA, 8));
  EXPECT_EQ(0u, allocator.GetAllocSize(b));
  EXPECT_NE(nullptr, allocator.GetBlockData(a, kTypeA, 32));
  // A free pointer past the segment's end; the block now ends past it too.
  Field(allocator, 32) = 0xFFFFFFF0;
  Field(allocator, b) = kSegmentSize;
  EXPECT_EQ(kSegmentSize, allocator.used());
  EXPECT_EQ(nullptr, allocator.GetBlockData(b, kTypeA, 8));
  EXPECT_NE(nullptr, allocator.GetBlockData(a, kTypeA, 32));
}

TEST(PersistentMemoryAllocatorTest, ReadOnlyAllocatorNeverWrites) {
  LocalPersistentMemoryAllocator created(kSegmentSize, 0);
  const Reference a = created.Allocate(32, kTypeA);
  const Reference b = created.Allocate(32, kTypeA);
  created.MakeIterable(a);
  created.MakeIterable(b);
  Field(created, b + 12) = 3;  // A link to nowhere.
  std::string before(static_cast<const char*>(created.data()), kSegmentSize);

  PersistentMemoryAllocator reader(const_cast<void*>(created.data()), kSegmentSize, 4096, 0, true);
  ASSERT_TRUE(reader.IsValid());
  EXPECT_EQ((std::vector<Reference>{a, b}), Walk(reader));
  EXPECT_TRUE(reader.IsCorrupt());
  EXPECT_FALSE(created.IsCorrupt());
  EXPECT_EQ(0u, reader.Allocate(8, kTypeA));
  EXPECT_FALSE(reader.ChangeType(a, kTypeB, kTypeA));
  reader.MakeIterable(a);
  EXPECT_EQ(0, std::memcmp(before.data(), created.data(), kSegmentSize));
}

TEST(PersistentMemoryAllocatorTest, ThreadsGetDisjointBlocksEachIterableOnce) {
  constexpr int kThreads = 8;
  constexpr int kBlocksPerThread = 400;
  LocalPersistentMemoryAllocator allocator(4 * 1024 * 1024, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&allocator, t] {
      for (int i = 0; i < kBlocksPerThread; ++i) {
        const uint32_t size = 8 + static_cast<uint32_t>((i * 37 + t * 11) % 300);
        const Reference ref = allocator.Allocate(size, kTypeA + t);
        auto* data = static_cast<uint32_t*>(allocator.GetBlockData(ref, 0, 8));
        if (!data)
          return;
        data[0] = static_cast<uint32_t>(t);
        data[1] = static_cast<uint32_t>(i);
        allocator.MakeIterable(ref);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  ASSERT_FALSE(allocator.IsCorrupt());

  // Readers share one iterator: every record reaches exactly one of them.
  PersistentMemoryAllocator::Iterator iterator(&allocator);
  std::vector<std::vector<Reference>> found(kThreads);
  threads.clear();
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&iterator, &found, t] {
      uint32_t type;
      while (Reference ref = iterator.GetNext(&type))
        found[t].push_back(ref);
    });
  }
  for (std::thread& thread : threads)
    thread.join();

  std::vector<Reference> all;
  for (const auto& refs : found)
    all.insert(all.end(), refs.begin(), refs.end());
  ASSERT_EQ(static_cast<size_t>(kThreads * kBlocksPerThread), all.size());
  std::sort(all.begin(), all.end());
  std::set<std::pair<uint32_t, uint32_t>> owners;
  for (size_t i = 0; i < all.size(); ++i) {
    const uint32_t end = all[i] + 16 + allocator.GetAllocSize(all[i]);
    if (i + 1 < all.size()) {
      EXPECT_LE(end, all[i + 1]);
    }
    const auto* data = static_cast<const uint32_t*>(allocator.GetBlockData(all[i], 0, 8));
    ASSERT_NE(nullptr, data);
    EXPECT_EQ(kTypeA + data[0], allocator.GetType(all[i]));
    owners.insert({data[0], data[1]});
  }
  EXPECT_EQ(all.size(), owners.size());
  EXPECT_FALSE(allocator.IsCorrupt());
}

constexpr char kMappingSwitch[] = "mapping";
constexpr char kWriterSwitch[] = "writer";
constexpr int kBlocksPerWriter = 300;

CHILD_PROCESS_MAIN(SegmentWriterChild) {
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  const std::wstring mapping = command_line->GetSwitchValueNative(kMappingSwitch);
  int writer = 0;
  if (!StringToInt(command_line->GetSwitchValueASCII(kWriterSwitch), &writer))
    return 2;
  std::unique_ptr<SharedPersistentMemoryAllocator> allocator =
      SharedPersistentMemoryAllocator::Open(mapping, 99, false);
  if (!allocator)
    return 3;
  for (int i = 0; i < kBlocksPerWriter; ++i) {
    const Reference ref = allocator->Allocate(16 + (i % 7) * 24, kTypeA);
    auto* data = static_cast<uint32_t*>(allocator->GetBlockData(ref, kTypeA, 8));
    if (!data)
      return 4;
    data[0] = static_cast<uint32_t>(writer);
    data[1] = static_cast<uint32_t>(i);
    allocator->MakeIterable(ref);
  }
  return allocator->IsCorrupt() ? 5 : 0;
}

TEST(PersistentMemoryAllocatorTest, TwoWriterProcessesNeverOverlap) {
  const std::wstring mapping =
      L"Local\\velmo-segment-writers-" + std::to_wstring(GetCurrentProcessId());
  std::unique_ptr<SharedPersistentMemoryAllocator> segment =
      SharedPersistentMemoryAllocator::Create(FilePath(), mapping, 1024 * 1024, 99);
  ASSERT_NE(nullptr, segment);

  std::vector<Process> children;
  for (int writer = 1; writer <= 2; ++writer) {
    CommandLine command_line = testing::GetChildCommandLine("SegmentWriterChild");
    command_line.AppendSwitchNative(kMappingSwitch, mapping);
    command_line.AppendSwitchASCII(kWriterSwitch, std::to_string(writer));
    children.push_back(LaunchProcess(command_line, LaunchOptions()));
    ASSERT_TRUE(children.back().IsValid());
  }
  for (Process& child : children) {
    int exit_code = -1;
    ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
    EXPECT_EQ(0, exit_code);
  }

  std::vector<Reference> refs = Walk(*segment);
  ASSERT_EQ(2u * kBlocksPerWriter, refs.size());
  std::map<uint32_t, std::set<uint32_t>> by_writer;
  std::sort(refs.begin(), refs.end());
  for (size_t i = 0; i < refs.size(); ++i) {
    if (i + 1 < refs.size()) {
      EXPECT_LE(refs[i] + 16 + segment->GetAllocSize(refs[i]), refs[i + 1]);
    }
    const auto* data = static_cast<const uint32_t*>(segment->GetBlockData(refs[i], kTypeA, 8));
    ASSERT_NE(nullptr, data);
    by_writer[data[0]].insert(data[1]);
  }
  EXPECT_EQ(static_cast<size_t>(kBlocksPerWriter), by_writer[1].size());
  EXPECT_EQ(static_cast<size_t>(kBlocksPerWriter), by_writer[2].size());
  EXPECT_FALSE(segment->IsCorrupt());
}

}  // namespace
}  // namespace base
