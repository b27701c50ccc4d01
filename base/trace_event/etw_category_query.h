// The seam through which the category states learn whether an ETW session
// outside the process wants a category. The ETW export installs its query
// once (it answers from the keywords the session enabled); until then every
// answer is false.
#ifndef BASE_TRACE_EVENT_ETW_CATEGORY_QUERY_H_
#define BASE_TRACE_EVENT_ETW_CATEGORY_QUERY_H_

namespace base::trace_event {

// Returns true when the ETW export wants events of |category_group|. Asking
// may build the export (and register its provider) on the first call.
using EtwCategoryQuery = bool (*)(const char* category_group);

// Installs |query| (null removes it); returns the previous one.
EtwCategoryQuery SetEtwCategoryQuery(EtwCategoryQuery query);

// Asks the installed query; false when none is installed.
bool IsEtwCategoryGroupEnabled(const char* category_group);

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_ETW_CATEGORY_QUERY_H_
