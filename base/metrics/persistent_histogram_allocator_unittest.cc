#include "base/metrics/persistent_histogram_allocator.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/binary_message.h"
#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/files/scoped_temp_dir.h"
#include "base/metrics/boolean_histogram.h"
#include "base/metrics/bucket_boundaries.h"
#include "base/metrics/bucket_count_vector.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/linear_histogram.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/sparse_sample_map.h"
#include "base/process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/multiprocess_test.h"
#include "testing/scoped_histogram_registry.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint64_t kSegmentId = 0x5E6;
constexpr size_t kSegmentSize = 256 * 1024;

// Histograms built in a global segment point into it for the rest of the
// process, so a released allocator is kept.
void KeepReleasedGlobal() {
  static std::vector<std::unique_ptr<PersistentHistogramAllocator>> kept;
  kept.push_back(PersistentHistogramAllocator::ReleaseGlobalForTesting());
}

std::map<std::string, std::string> AsciiOfAll(const std::vector<HistogramBase*>& histograms) {
  std::map<std::string, std::string> result;
  for (HistogramBase* histogram : histograms) {
    std::string text;
    histogram->WriteAscii(&text);
    result[histogram->histogram_name()] = text;
  }
  return result;
}

TEST(PersistentHistogramTest, FactoriesBuildInTheGlobalSegment) {
  testing::ScopedHistogramRegistry registry;
  ASSERT_TRUE(PersistentHistogramAllocator::CreateGlobalWithLocalMemory(kSegmentSize, kSegmentId));
  PersistentMemoryAllocator* memory = PersistentHistogramAllocator::GetGlobal()->memory_allocator();

  HistogramBase* exponential = Histogram::GetOrCreate("Persistent.Exp", 1, 1000, 10, 1);
  HistogramBase* linear = LinearHistogram::GetOrCreate("Persistent.Linear", 10, 11);
  HistogramBase* custom = CustomHistogram::GetOrCreate("Persistent.Custom", {3, 30, 300}, 1);
  HistogramBase* sparse = SparseHistogram::GetOrCreate("Persistent.Sparse");
  for (HistogramBase* histogram : {exponential, linear, custom, sparse}) {
    ASSERT_NE(nullptr, histogram);
    EXPECT_EQ(HistogramBase::kIsPersistent | HistogramBase::kUmaTargetedHistogramFlag,
              histogram->flags());
  }
  EXPECT_EQ(exponential, Histogram::GetOrCreate("Persistent.Exp", 1, 1000, 10, 1));
  exponential->Add(5);
  exponential->AddCount(700, 3);
  linear->Add(10);
  custom->Add(31);
  sparse->Add(-4);
  sparse->AddCount(INT_MAX, 2);
  sparse->Add(-4);
  std::unique_ptr<HistogramSampleSet> delta = exponential->TakeDeltaSnapshot();
  EXPECT_EQ(4, delta->TotalCount());
  exponential->Add(6);

  // Another reader of the same memory finds every histogram and its counts.
  PersistentHistogramAllocator reader(std::make_unique<PersistentMemoryAllocator>(
      const_cast<void*>(memory->data()), memory->size(), memory->page_size(), kSegmentId, false));
  PersistentMemoryAllocator::Iterator iterator(reader.memory_allocator());
  std::vector<HistogramBase*> found;
  std::vector<std::unique_ptr<HistogramBase>> owned;
  while (Reference ref = iterator.GetNextOfType(PersistentHistogramAllocator::kTypeIdHistogram)) {
    owned.push_back(reader.GetHistogram(ref));
    ASSERT_NE(nullptr, owned.back());
    found.push_back(owned.back().get());
  }
  std::map<std::string, std::string> written = AsciiOfAll({exponential, linear, custom, sparse});
  std::map<std::string, std::string> read = AsciiOfAll(found);
  for (const auto& entry : written)
    EXPECT_EQ(entry.second, read[entry.first]) << entry.first;
  // The logged samples are shared too: the reader's delta is what came after
  // the writer's.
  for (HistogramBase* histogram : found) {
    if (histogram->histogram_name() == "Persistent.Exp") {
      std::unique_ptr<HistogramSampleSet> reader_delta = histogram->TakeDeltaSnapshot();
      EXPECT_EQ(1, reader_delta->TotalCount());
      EXPECT_EQ(1, reader_delta->GetCount(6));
    }
  }
  EXPECT_FALSE(memory->IsCorrupt());
  KeepReleasedGlobal();
}

TEST(PersistentHistogramTest, SampleMapsImportAndRoundTrip) {
  LocalPersistentMemoryAllocator memory(kSegmentSize, 0);
  PersistentSparseDataManager manager(&memory);
  SampleMetadata meta;
  PersistentSampleMap writer(11, &manager, &meta);
  EXPECT_EQ(11u, writer.id());
  for (int value = -50; value < 50; ++value)
    writer.Accumulate(value * 1000, value + 60);
  writer.Accumulate(INT_MAX, 4);

  // A map of another process's view: a new manager over the same segment.
  PersistentSparseDataManager other_manager(&memory);
  PersistentSampleMap reader(11, &other_manager, &meta);
  EXPECT_EQ(4, reader.GetCount(INT_MAX));
  EXPECT_EQ(10, reader.GetCount(-50000));
  EXPECT_EQ(0, reader.GetCount(1));
  EXPECT_EQ(writer.TotalCount(), reader.TotalCount());
  reader.Accumulate(0, 1);
  EXPECT_EQ(61, writer.GetCount(0));

  // INT32_MAX's entry ends at 2^31: it survives serialization into a map
  // whose counts live in the segment.
  BinaryMessage message;
  ASSERT_TRUE(writer.Serialize(&message));
  SampleMetadata copy_meta;
  PersistentSampleMap copy(12, &manager, &copy_meta);
  BinaryMessageReader message_reader(message);
  ASSERT_TRUE(copy.AddSerialized(&message_reader));
  EXPECT_EQ(4, copy.GetCount(INT_MAX));
  EXPECT_EQ(writer.sum(), copy.sum());
  EXPECT_EQ(writer.TotalCount(), copy.TotalCount());

  // Entries wider than one value do not fit a sample map.
  BucketBoundaries boundaries(3);
  Histogram::FillLinearRanges(1, 10, &boundaries);
  BucketCountVector wide(1, &boundaries);
  wide.Accumulate(5, 1);
  EXPECT_FALSE(copy.Add(wide));
  EXPECT_FALSE(memory.IsCorrupt());
}

// A histogram read twice from one allocator has two maps of one id over one
// manager: the second must see the records the first has already read.
TEST(PersistentHistogramTest, TwoMapsOfOneIdBothSeeEveryRecord) {
  LocalPersistentMemoryAllocator memory(kSegmentSize, 0);
  PersistentSparseDataManager manager(&memory);
  SampleMetadata meta;
  PersistentSampleMap first(21, &manager, &meta);
  for (int value = 0; value < 30; ++value)
    first.Accumulate(value, 2);
  PersistentSampleMap second(21, &manager, &meta);
  EXPECT_EQ(60, second.TotalCount());
  second.Accumulate(7, 1);
  PersistentSampleMap third(21, &manager, &meta);
  EXPECT_EQ(3, third.GetCount(7));
  EXPECT_EQ(3, first.GetCount(7));
  // No value got a second record.
  PersistentMemoryAllocator::Iterator iterator(&memory);
  int records = 0;
  while (iterator.GetNextOfType(PersistentSparseDataManager::kTypeIdSampleRecord))
    ++records;
  EXPECT_EQ(30, records);
}

TEST(PersistentHistogramTest, SampleMapFallsBackToProcessMemoryWhenFull) {
  LocalPersistentMemoryAllocator memory(4096, 0);
  PersistentSparseDataManager manager(&memory);
  SampleMetadata meta;
  PersistentSampleMap map(5, &manager, &meta);
  for (int value = 0; value < 300; ++value)
    map.Accumulate(value, 1);
  EXPECT_TRUE(memory.IsFull());
  EXPECT_EQ(300, map.TotalCount());
  EXPECT_EQ(1, map.GetCount(299));
  map.Accumulate(299, 2);
  EXPECT_EQ(3, map.GetCount(299));
}

// A bucket vector's walk over entries stops at its last bucket: an entry
// above the last boundary is refused, not looked for past the counts.
TEST(PersistentHistogramTest, BucketVectorRefusesEntriesPastItsBuckets) {
  BucketBoundaries small(3);
  Histogram::FillLinearRanges(1, 2, &small);
  BucketCountVector target(1, &small);
  SparseSampleMap source(1);
  source.Accumulate(INT_MAX - 1, 1);
  EXPECT_FALSE(target.Add(source));
  EXPECT_EQ(0, target.TotalCount());
}

// Children that read a damaged segment report what they saw in their exit
// code: 10 refused at opening, 11 opened; 20 marked corrupt; 30 + the result
// code of a refused histogram.
constexpr char kSegmentSwitch[] = "segment";
constexpr char kWritableSwitch[] = "writable";
constexpr int kOpenRefused = 10;
constexpr int kOpened = 11;
constexpr int kCorrupt = 20;
constexpr int kResultBase = 30;

int LowestFailureCode() {
  HistogramBase* results =
      HistogramRegistry::FindHistogram("Metrics.CreatePersistentHistogram.Result");
  if (!results)
    return kOpened;
  std::unique_ptr<HistogramSampleSet> snapshot = results->TakeSnapshot();
  for (int code = 1; code < PersistentHistogramAllocator::kCreateHistogramMax; ++code) {
    if (snapshot->GetCount(code) > 0)
      return kResultBase + code;
  }
  return kOpened;
}

CHILD_PROCESS_MAIN(DamagedSegmentChild) {
  HistogramRegistry::Initialize();
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  const FilePath path = command_line->GetSwitchValuePath(kSegmentSwitch);
  std::unique_ptr<PersistentMemoryAllocator> memory;
  std::string bytes;
  if (command_line->HasSwitch(kWritableSwitch)) {
    // A writer's view: the damaged bytes in this process's memory.
    if (!ReadFileToString(path, &bytes))
      return 2;
    void* copy = VirtualAlloc(nullptr, bytes.size(), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    std::memcpy(copy, bytes.data(), bytes.size());
    memory =
        std::make_unique<PersistentMemoryAllocator>(copy, bytes.size(), 4096, kSegmentId, false);
    if (!memory->IsValid())
      return kOpenRefused;
  } else {
    memory = FilePersistentMemoryAllocator::OpenReadOnly(path, kSegmentId);
    if (!memory)
      return kOpenRefused;
  }
  PersistentHistogramAllocator allocator(std::move(memory));
  PersistentMemoryAllocator* segment = allocator.memory_allocator();
  if (!segment->IsReadOnly()) {
    // Writers add to the segment: a histogram and a linked block.
    BucketBoundaries boundaries(4);
    Histogram::FillExponentialRanges(1, 100, &boundaries);
    Reference ref = 0;
    allocator.AllocateHistogram(HISTOGRAM, "Damaged.New", 1, 100, &boundaries, 0, &ref);
    segment->MakeIterable(segment->Allocate(8, 0x77));
  }
  allocator.ImportHistogramsToRegistry();
  for (HistogramBase* histogram : HistogramRegistry::GetHistograms()) {
    if (histogram->histogram_name() == "Metrics.CreatePersistentHistogram.Result")
      continue;
    histogram->Add(1);
    std::string text;
    histogram->WriteAscii(&text);
  }
  if (segment->IsCorrupt())
    return kCorrupt;
  return LowestFailureCode();
}

// Writes a segment file with one histogram of each kind and gives its bytes
// and the reference of each histogram by name.
struct GoodSegment {
  std::string bytes;
  std::map<std::string, Reference> refs;
  std::vector<Reference> queue;
};

GoodSegment MakeGoodSegment(const FilePath& path) {
  GoodSegment good;
  {
    std::unique_ptr<SharedPersistentMemoryAllocator> memory =
        SharedPersistentMemoryAllocator::Create(path, L"", 64 * 1024, kSegmentId);
    EXPECT_NE(nullptr, memory);
    if (!memory)
      return good;
    PersistentHistogramAllocator allocator(std::move(memory));
    BucketBoundaries boundaries(6);
    Histogram::FillExponentialRanges(1, 1000, &boundaries);
    Reference ref = 0;
    std::unique_ptr<HistogramBase> exp =
        allocator.AllocateHistogram(HISTOGRAM, "Damaged.Exp", 1, 1000, &boundaries, 1, &ref);
    allocator.FinalizeHistogram(ref, true);
    exp->AddCount(50, 3);
    good.refs["Damaged.Exp"] = ref;
    std::unique_ptr<HistogramBase> sparse =
        allocator.AllocateHistogram(SPARSE_HISTOGRAM, "Damaged.Sparse", 0, 0, nullptr, 1, &ref);
    allocator.FinalizeHistogram(ref, true);
    sparse->Add(77);
    good.refs["Damaged.Sparse"] = ref;
    PersistentMemoryAllocator::Iterator iterator(allocator.memory_allocator());
    uint32_t type;
    while (Reference queued = iterator.GetNext(&type))
      good.queue.push_back(queued);
  }
  EXPECT_TRUE(ReadFileToString(path, &good.bytes));
  return good;
}

uint32_t& U32(std::string& bytes, size_t offset) {
  return *reinterpret_cast<uint32_t*>(&bytes[offset]);
}

// The boundaries block of the exponential histogram, rewritten with
// |values| and a matching checksum.
void RewriteBoundaries(GoodSegment& segment, const std::vector<HistogramSample>& values) {
  const size_t data = segment.refs["Damaged.Exp"] + 16;
  const Reference ranges_ref = U32(segment.bytes, data + 20);
  BucketBoundaries boundaries(values.size() - 1);
  for (size_t i = 0; i < values.size(); ++i) {
    boundaries.set_range(i, values[i]);
    U32(segment.bytes, ranges_ref + 16 + 4 * i) = static_cast<uint32_t>(values[i]);
  }
  U32(segment.bytes, data + 16) = static_cast<uint32_t>(values.size() - 1);
  U32(segment.bytes, data + 24) = boundaries.CalculateChecksum();
}

TEST(PersistentHistogramTest, DamagedSegmentsAreRefusedWithoutCrashOrHang) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const GoodSegment good = MakeGoodSegment(temp.GetPath().AppendASCII("good.seg"));
  ASSERT_EQ(64u * 1024, good.bytes.size());
  ASSERT_GE(good.queue.size(), 3u);

  struct Case {
    const char* name;
    bool writable;
    int expected;
    void (*damage)(GoodSegment&);
  };
  const Case cases[] = {
      {"intact", false, kOpened, [](GoodSegment&) {}},
      {"segment cookie", false, kOpenRefused, [](GoodSegment& s) { U32(s.bytes, 0) ^= 1; }},
      {"truncated file", false, kOpenRefused, [](GoodSegment& s) { s.bytes.resize(40 * 1024); }},
      {"block cookie", false, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, s.queue[1] + 4) = 0x12345678; }},
      {"block past the end", false, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, s.queue[0] + 12) = 64 * 1024 - 8; }},
      {"queue cycle", false, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, s.queue.back() + 12) = s.queue[0]; }},
      {"tail at garbage", true, kCorrupt, [](GoodSegment& s) { U32(s.bytes, 36) = 0x1234; }},
      {"free pointer past the size", true, kResultBase + 6,
       [](GoodSegment& s) { U32(s.bytes, 32) = 64 * 1024 + 4096; }},
      {"block size past the segment", false, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, s.queue[1]) = 0x7FFFFFF0; }},
      {"misaligned free pointer", true, kCorrupt, [](GoodSegment& s) { U32(s.bytes, 32) += 4; }},
      {"free pointer inside the header", true, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, 32) = 16; }},
      {"written header past the free pointer", true, kCorrupt,
       [](GoodSegment& s) { U32(s.bytes, U32(s.bytes, 32) + 8) = 0x77; }},
      {"boundaries checksum", false, kResultBase + 3,
       [](GoodSegment& s) { U32(s.bytes, s.refs["Damaged.Exp"] + 16 + 24) ^= 1; }},
      {"boundaries not increasing", false, kResultBase + 3,
       [](GoodSegment& s) {
         RewriteBoundaries(s, {0, 1, 2, 2, 5, 9, INT_MAX});
       }},
      {"boundaries not from 0", false, kResultBase + 3,
       [](GoodSegment& s) {
         RewriteBoundaries(s, {1, 2, 3, 4, 5, 9, INT_MAX});
       }},
      {"boundaries not to the top", false, kResultBase + 3,
       [](GoodSegment& s) {
         RewriteBoundaries(s, {0, 1, 2, 3, 4, 5, 9});
       }},
      {"negative boundary", false, kResultBase + 3,
       [](GoodSegment& s) {
         RewriteBoundaries(s, {-5, 1, 2, 3, 4, 5, INT_MAX});
       }},
      {"huge bucket count", false, kResultBase + 3,
       [](GoodSegment& s) { U32(s.bytes, s.refs["Damaged.Exp"] + 16 + 16) = 0x20000001; }},
      {"unterminated name", false, kResultBase + 2,
       [](GoodSegment& s) {
         const Reference ref = s.refs["Damaged.Exp"];
         const uint32_t size = U32(s.bytes, ref);
         std::memset(&s.bytes[ref + 16 + 80], 'x', size - 16 - 80);
       }},
      {"samples id 0", false, kResultBase + 2,
       [](GoodSegment& s) {
         const size_t meta = s.refs["Damaged.Sparse"] + 16 + 32;
         U32(s.bytes, meta) = 0;
         U32(s.bytes, meta + 4) = 0;
       }},
      {"unknown kind", false, kResultBase + 8,
       [](GoodSegment& s) { U32(s.bytes, s.refs["Damaged.Exp"] + 16) = 9; }},
  };

  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    GoodSegment damaged = good;
    test_case.damage(damaged);
    const FilePath path = temp.GetPath().AppendASCII(std::string(test_case.name) + ".seg");
    ASSERT_EQ(static_cast<int>(damaged.bytes.size()),
              WriteFileBytes(path, damaged.bytes.data(), static_cast<int>(damaged.bytes.size())));
    CommandLine command_line = testing::GetChildCommandLine("DamagedSegmentChild");
    command_line.AppendSwitchPath(kSegmentSwitch, path);
    if (test_case.writable)
      command_line.AppendSwitch(kWritableSwitch);
    Process child = LaunchProcess(command_line, LaunchOptions());
    ASSERT_TRUE(child.IsValid());
    int exit_code = -1;
    const bool ended = child.WaitForExitWithTimeout(60000, &exit_code);
    if (!ended)
      child.Terminate(1, true);
    ASSERT_TRUE(ended) << "the reader hung";
    EXPECT_EQ(test_case.expected, exit_code);
    // A read-only reader leaves the file as it was.
    std::string after;
    ASSERT_TRUE(ReadFileToString(path, &after));
    EXPECT_TRUE(after == damaged.bytes);
  }
}

TEST(PersistentHistogramTest, CountsBlockTooSmallForTheBucketCount) {
  LocalPersistentMemoryAllocator* memory = new LocalPersistentMemoryAllocator(kSegmentSize, 0);
  PersistentHistogramAllocator allocator{std::unique_ptr<PersistentMemoryAllocator>(memory)};
  BucketBoundaries boundaries(50);
  Histogram::FillExponentialRanges(1, 1000, &boundaries);
  Reference ref = 0;
  ASSERT_NE(nullptr,
            allocator.AllocateHistogram(HISTOGRAM, "Small.Counts", 1, 1000, &boundaries, 0, &ref));
  auto* data = memory->GetAsObject<PersistentHistogramAllocator::HistogramData>(
      ref, PersistentHistogramAllocator::kTypeIdHistogram);
  ASSERT_NE(nullptr, data);
  // A counts block of 8 bytes: enough for one bucket only.
  data->counts_ref = memory->Allocate(8, PersistentHistogramAllocator::kTypeIdCountsArray);
  EXPECT_EQ(nullptr, allocator.GetHistogram(ref));
  // A bucket count whose counts size wraps in 32 bits (0x20000001 * 8 = 8);
  // its boundaries cannot fit the segment either.
  data->bucket_count = 0x20000001;
  EXPECT_EQ(nullptr, allocator.GetHistogram(ref));
  EXPECT_FALSE(memory->IsCorrupt());
}

// The private memory committed in this process, in bytes.
uint64_t CommittedPrivateBytes() {
  uint64_t total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  for (const char* address = nullptr;
       VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
       address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += region.RegionSize;
    if (region.RegionSize == 0)
      break;
  }
  return total;
}

// Without a registry the boundaries read from a record belong to nobody
// until a histogram holds them: a record refused after they were read (bad
// counts, unknown kind) must not leave them behind.
TEST(PersistentHistogramTest, RefusedRecordsLeaveNoBoundariesBehind) {
  HistogramRegistry* previous = HistogramRegistry::SwapForTesting(nullptr);
  constexpr size_t kSegment = 4 * 1024 * 1024;
  void* segment = VirtualAlloc(nullptr, kSegment, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(nullptr, segment);
  {
    // Pages as large as the segment: boundaries of a megabyte fit one block.
    auto* memory = new PersistentMemoryAllocator(segment, kSegment, kSegment, 0, false);
    PersistentHistogramAllocator allocator{std::unique_ptr<PersistentMemoryAllocator>(memory)};
    constexpr size_t kBuckets = 256 * 1024;
    BucketBoundaries boundaries(kBuckets);
    for (size_t i = 0; i < kBuckets; ++i)
      boundaries.set_range(i, static_cast<HistogramSample>(i));
    boundaries.set_range(kBuckets, HistogramBase::kSampleTypeMax);
    boundaries.ResetChecksum();
    Reference ref = 0;
    ASSERT_NE(nullptr, allocator.AllocateHistogram(HISTOGRAM, "Refused.Big", 1, kBuckets - 1,
                                                   &boundaries, 0, &ref));
    auto* data = memory->GetAsObject<PersistentHistogramAllocator::HistogramData>(
        ref, PersistentHistogramAllocator::kTypeIdHistogram);
    ASSERT_NE(nullptr, data);
    const Reference counts_ref = data->counts_ref;

    data->counts_ref = memory->Allocate(8, PersistentHistogramAllocator::kTypeIdCountsArray);
    uint64_t before = CommittedPrivateBytes();
    for (int i = 0; i < 64; ++i)
      EXPECT_EQ(nullptr, allocator.GetHistogram(ref));
    // 64 lost copies would be 64 MiB.
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024) << "bad counts";

    data->counts_ref = counts_ref;
    data->histogram_type = 9;
    before = CommittedPrivateBytes();
    for (int i = 0; i < 64; ++i)
      EXPECT_EQ(nullptr, allocator.GetHistogram(ref));
    EXPECT_LT(CommittedPrivateBytes(), before + 16 * 1024 * 1024) << "unknown kind";
  }
  VirtualFree(segment, 0, MEM_RELEASE);
  HistogramRegistry::SwapForTesting(previous);
}

constexpr char kMappingSwitch[] = "mapping";
constexpr char kReadySwitch[] = "ready";
constexpr char kGoSwitch[] = "go";
constexpr char kTextSwitch[] = "text";

HANDLE OpenNamedEvent(const std::wstring& name) {
  return OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str());
}

CHILD_PROCESS_MAIN(HistogramWriterChild) {
  const CommandLine* command_line = CommandLine::ForCurrentProcess();
  if (!PersistentHistogramAllocator::CreateGlobalWithSharedMemory(
          command_line->GetSwitchValuePath(kSegmentSwitch),
          command_line->GetSwitchValueNative(kMappingSwitch), kSegmentSize, kSegmentId)) {
    return 2;
  }
  win::ScopedHandle ready(OpenNamedEvent(command_line->GetSwitchValueNative(kReadySwitch)));
  win::ScopedHandle go(OpenNamedEvent(command_line->GetSwitchValueNative(kGoSwitch)));
  if (!ready.IsValid() || !go.IsValid())
    return 3;

  PersistentHistogramAllocator* allocator = PersistentHistogramAllocator::GetGlobal();
  HistogramBase* exponential = Histogram::GetOrCreate("Child.Exp", 1, 10000, 20, 1);
  HistogramBase* linear = LinearHistogram::GetOrCreate("Child.Linear", 20, 21);
  HistogramBase* custom = CustomHistogram::GetOrCreate("Child.Custom", {10, 100, 1000}, 1);
  HistogramBase* sparse = SparseHistogram::GetOrCreate("Child.Sparse");
  BucketBoundaries boolean_boundaries(3);
  Histogram::FillLinearRanges(1, 2, &boolean_boundaries);
  Reference boolean_ref = 0;
  HistogramBase* boolean = allocator
                               ->AllocateHistogram(BOOLEAN_HISTOGRAM, "Child.Boolean", 1, 2,
                                                   &boolean_boundaries, 1, &boolean_ref)
                               .release();
  if (!exponential || !linear || !custom || !sparse || !boolean)
    return 4;
  allocator->FinalizeHistogram(boolean_ref, true);

  std::vector<HistogramBase*> all = {exponential, linear, custom, sparse, boolean};
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 10; ++i) {
      exponential->Add(i * 97 + round);
      linear->Add(i + round);
      custom->Add(i * 111);
      sparse->Add(i * -1000003 + round);
      boolean->Add(i % 2);
    }
    SetEvent(ready.Get());
    if (WaitForSingleObject(go.Get(), 60000) != WAIT_OBJECT_0)
      return 5;
  }
  std::string text;
  for (HistogramBase* histogram : all)
    histogram->WriteAscii(&text);
  const FilePath text_path = command_line->GetSwitchValuePath(kTextSwitch);
  if (WriteFileBytes(text_path, text.data(), static_cast<int>(text.size())) !=
      static_cast<int>(text.size())) {
    return 6;
  }
  return allocator->memory_allocator()->IsCorrupt() ? 7 : 0;
}

int TotalOf(PersistentHistogramAllocator* allocator, const std::string& name) {
  PersistentMemoryAllocator::Iterator iterator(allocator->memory_allocator());
  while (Reference ref = iterator.GetNextOfType(PersistentHistogramAllocator::kTypeIdHistogram)) {
    std::unique_ptr<HistogramBase> histogram = allocator->GetHistogram(ref);
    if (histogram && histogram->histogram_name() == name)
      return histogram->TakeSnapshot()->TotalCount();
  }
  return -1;
}

TEST(PersistentHistogramTest, ChildRecordsAndParentReadsLiveAndAfterExit) {
  ScopedTempDir temp;
  ASSERT_TRUE(temp.CreateUniqueTempDir());
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId());
  const std::wstring mapping = L"Local\\velmo-histograms-" + suffix;
  const std::wstring ready_name = L"Local\\velmo-histograms-ready-" + suffix;
  const std::wstring go_name = L"Local\\velmo-histograms-go-" + suffix;
  win::ScopedHandle ready(CreateEventW(nullptr, FALSE, FALSE, ready_name.c_str()));
  win::ScopedHandle go(CreateEventW(nullptr, FALSE, FALSE, go_name.c_str()));
  ASSERT_TRUE(ready.IsValid() && go.IsValid());
  const FilePath segment_path = temp.GetPath().AppendASCII("child.seg");
  const FilePath text_path = temp.GetPath().AppendASCII("child.txt");

  CommandLine command_line = testing::GetChildCommandLine("HistogramWriterChild");
  command_line.AppendSwitchPath(kSegmentSwitch, segment_path);
  command_line.AppendSwitchNative(kMappingSwitch, mapping);
  command_line.AppendSwitchNative(kReadySwitch, ready_name);
  command_line.AppendSwitchNative(kGoSwitch, go_name);
  command_line.AppendSwitchPath(kTextSwitch, text_path);
  Process child = LaunchProcess(command_line, LaunchOptions());
  ASSERT_TRUE(child.IsValid());

  // While the child runs, each look at its segment shows what it recorded
  // so far.
  std::vector<int> totals;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready.Get(), 60000));
    std::unique_ptr<SharedPersistentMemoryAllocator> live =
        SharedPersistentMemoryAllocator::Open(mapping, kSegmentId, true);
    ASSERT_NE(nullptr, live);
    PersistentHistogramAllocator reader(std::move(live));
    totals.push_back(TotalOf(&reader, "Child.Sparse"));
    EXPECT_EQ(totals.back(), TotalOf(&reader, "Child.Boolean"));
    SetEvent(go.Get());
  }
  EXPECT_EQ((std::vector<int>{10, 20}), totals);
  int exit_code = -1;
  ASSERT_TRUE(child.WaitForExitWithTimeout(60000, &exit_code));
  ASSERT_EQ(0, exit_code);

  std::string child_text;
  ASSERT_TRUE(ReadFileToString(text_path, &child_text));
  std::string before;
  ASSERT_TRUE(ReadFileToString(segment_path, &before));

  testing::ScopedHistogramRegistry registry;
  {
    std::unique_ptr<FilePersistentMemoryAllocator> file =
        FilePersistentMemoryAllocator::OpenReadOnly(segment_path, kSegmentId);
    ASSERT_NE(nullptr, file);
    PersistentHistogramAllocator reader(std::move(file));
    reader.ImportHistogramsToRegistry();
    std::string parent_text;
    for (const char* name :
         {"Child.Exp", "Child.Linear", "Child.Custom", "Child.Sparse", "Child.Boolean"}) {
      HistogramBase* histogram = HistogramRegistry::FindHistogram(name);
      ASSERT_NE(nullptr, histogram) << name;
      histogram->WriteAscii(&parent_text);
    }
    EXPECT_EQ(child_text, parent_text);
    EXPECT_EQ(BOOLEAN_HISTOGRAM,
              HistogramRegistry::FindHistogram("Child.Boolean")->GetHistogramType());
    // The imported histograms count on their own, without touching the file.
    HistogramRegistry::FindHistogram("Child.Sparse")->Add(5);
    HistogramRegistry::FindHistogram("Child.Exp")->Add(5);
    EXPECT_EQ(21, HistogramRegistry::FindHistogram("Child.Sparse")->TakeSnapshot()->TotalCount());
  }
  std::string after;
  ASSERT_TRUE(ReadFileToString(segment_path, &after));
  EXPECT_TRUE(before == after);
}

}  // namespace
}  // namespace base
