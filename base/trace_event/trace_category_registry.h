// The fixed table of trace categories. Entries never move and are never
// removed, so trace sites and events keep raw pointers to them for the life of
// the process.
#ifndef BASE_TRACE_EVENT_TRACE_CATEGORY_REGISTRY_H_
#define BASE_TRACE_EVENT_TRACE_CATEGORY_REGISTRY_H_

#include <cstddef>
#include <cstdint>

#include "base/trace_event/trace_category.h"

namespace base::trace_event {

class TraceCategoryRegistry {
 public:
  static constexpr size_t kMaxCategories = 200;

  // Indexes of the built-in entries.
  static constexpr size_t kCategoryExhausted = 0;
  static constexpr size_t kCategoryAlreadyShutdown = 1;
  static constexpr size_t kCategoryMetadata = 2;
  static constexpr size_t kCategoryTopLevel = 3;
  static constexpr size_t kNumBuiltinCategories = 4;

  TraceCategoryRegistry() = delete;

  // Stores in |*category| the entry named |name|, adding it when it does not
  // exist yet. Returns true only when this call added the entry. When the
  // table is full the entry is kCategoryExhausted and the result false.
  static bool GetOrCreateCategory(const char* name, TraceCategory** category);

  // The entry at |index| (below kMaxCategories).
  static TraceCategory* GetCategoryAt(size_t index);
  // Number of used entries (kNumBuiltinCategories at start).
  static size_t GetCategoryCount();
  // True when |category| points into the table.
  static bool IsValidCategoryPtr(const TraceCategory* category);
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACE_CATEGORY_REGISTRY_H_
