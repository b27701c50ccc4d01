#include "base/trace_event/etw_category_query.h"

#include <atomic>

namespace base::trace_event {
namespace {

std::atomic<EtwCategoryQuery> g_etw_query{nullptr};

}  // namespace

EtwCategoryQuery SetEtwCategoryQuery(EtwCategoryQuery query) {
  return g_etw_query.exchange(query, std::memory_order_acq_rel);
}

bool IsEtwCategoryGroupEnabled(const char* category_group) {
  EtwCategoryQuery query = g_etw_query.load(std::memory_order_acquire);
  return query && query(category_group);
}

}  // namespace base::trace_event
