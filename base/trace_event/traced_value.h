// A structured trace argument: a tree of dictionaries, lists and scalars
// recorded into a compact byte stream and turned into JSON on demand.
//
//   auto value = std::make_unique<TracedValue>();
//   value->SetInteger("count", 3);
//   value->BeginArray("names");
//   value->AppendString("a");
//   value->EndArray();
//
// Names given as const char* must have static lifetime; the ...WithCopiedName
// forms copy theirs.
#ifndef BASE_TRACE_EVENT_TRACED_VALUE_H_
#define BASE_TRACE_EVENT_TRACED_VALUE_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/binary_message.h"
#include "base/trace_event/trace_event.h"
#include "base/values.h"

namespace base::trace_event {

class TracedValue : public ConvertableToTraceFormat {
 public:
  TracedValue();
  ~TracedValue() override;

  void SetInteger(const char* name, int value);
  void SetDouble(const char* name, double value);
  void SetBoolean(const char* name, bool value);
  void SetString(const char* name, std::string_view value);
  void BeginDictionary(const char* name);
  void BeginArray(const char* name);

  void SetIntegerWithCopiedName(std::string_view name, int value);
  void SetDoubleWithCopiedName(std::string_view name, double value);
  void SetBooleanWithCopiedName(std::string_view name, bool value);
  void SetStringWithCopiedName(std::string_view name, std::string_view value);
  void BeginDictionaryWithCopiedName(std::string_view name);
  void BeginArrayWithCopiedName(std::string_view name);

  void AppendInteger(int value);
  void AppendDouble(double value);
  void AppendBoolean(bool value);
  void AppendString(std::string_view value);
  void BeginDictionary();
  void BeginArray();

  void EndDictionary();
  void EndArray();

  // The tree as values; null when the stream is damaged.
  std::unique_ptr<DictValue> ToValue() const;

  void AppendAsTraceFormat(std::string* out) const override;
  void EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) override;

 private:
  void WriteTag(char tag);
  void WriteStaticKey(const char* name);
  void WriteCopiedKey(std::string_view name);

  BinaryMessage stream_;
};

}  // namespace base::trace_event

#endif  // BASE_TRACE_EVENT_TRACED_VALUE_H_
