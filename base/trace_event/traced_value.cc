#include "base/trace_event/traced_value.h"

#include <cstdint>
#include <utility>

#include "base/json_writer.h"
#include "base/logging.h"
#include "base/trace_event/trace_event_memory_overhead.h"

namespace base::trace_event {
namespace {

constexpr size_t kInitialCapacity = 64;

constexpr char kTypeStartDict = '{';
constexpr char kTypeEndDict = '}';
constexpr char kTypeStartArray = '[';
constexpr char kTypeEndArray = ']';
constexpr char kTypeBool = 'b';
constexpr char kTypeInt = 'i';
constexpr char kTypeDouble = 'd';
constexpr char kTypeString = 's';
// Keys: a pointer to a static name, or a copied name.
constexpr char kKeyStatic = '*';
constexpr char kKeyCopied = 's';

bool ReadKey(BinaryMessageReader* reader, std::string* key) {
  uint32_t tag = 0;
  if (!reader->ReadUInt32(&tag))
    return false;
  if (tag == static_cast<uint32_t>(kKeyStatic)) {
    uint64_t address = 0;
    if (!reader->ReadUInt64(&address) || address == 0)
      return false;
    *key = reinterpret_cast<const char*>(static_cast<uintptr_t>(address));
    return true;
  }
  return tag == static_cast<uint32_t>(kKeyCopied) && reader->ReadString(key);
}

}  // namespace

TracedValue::TracedValue() : stream_(kInitialCapacity) {}

TracedValue::~TracedValue() = default;

void TracedValue::WriteTag(char tag) { stream_.WriteUInt32(static_cast<uint32_t>(tag)); }

void TracedValue::WriteStaticKey(const char* name) {
  WriteTag(kKeyStatic);
  stream_.WriteUInt64(reinterpret_cast<uintptr_t>(name));
}

void TracedValue::WriteCopiedKey(std::string_view name) {
  WriteTag(kKeyCopied);
  stream_.WriteString(name);
}

void TracedValue::SetInteger(const char* name, int value) {
  WriteTag(kTypeInt);
  stream_.WriteInt(value);
  WriteStaticKey(name);
}

void TracedValue::SetDouble(const char* name, double value) {
  WriteTag(kTypeDouble);
  stream_.WriteDouble(value);
  WriteStaticKey(name);
}

void TracedValue::SetBoolean(const char* name, bool value) {
  WriteTag(kTypeBool);
  stream_.WriteBool(value);
  WriteStaticKey(name);
}

void TracedValue::SetString(const char* name, std::string_view value) {
  WriteTag(kTypeString);
  stream_.WriteString(value);
  WriteStaticKey(name);
}

void TracedValue::BeginDictionary(const char* name) {
  WriteTag(kTypeStartDict);
  WriteStaticKey(name);
}

void TracedValue::BeginArray(const char* name) {
  WriteTag(kTypeStartArray);
  WriteStaticKey(name);
}

void TracedValue::SetIntegerWithCopiedName(std::string_view name, int value) {
  WriteTag(kTypeInt);
  stream_.WriteInt(value);
  WriteCopiedKey(name);
}

void TracedValue::SetDoubleWithCopiedName(std::string_view name, double value) {
  WriteTag(kTypeDouble);
  stream_.WriteDouble(value);
  WriteCopiedKey(name);
}

void TracedValue::SetBooleanWithCopiedName(std::string_view name, bool value) {
  WriteTag(kTypeBool);
  stream_.WriteBool(value);
  WriteCopiedKey(name);
}

void TracedValue::SetStringWithCopiedName(std::string_view name, std::string_view value) {
  WriteTag(kTypeString);
  stream_.WriteString(value);
  WriteCopiedKey(name);
}

void TracedValue::BeginDictionaryWithCopiedName(std::string_view name) {
  WriteTag(kTypeStartDict);
  WriteCopiedKey(name);
}

void TracedValue::BeginArrayWithCopiedName(std::string_view name) {
  WriteTag(kTypeStartArray);
  WriteCopiedKey(name);
}

void TracedValue::AppendInteger(int value) {
  WriteTag(kTypeInt);
  stream_.WriteInt(value);
}

void TracedValue::AppendDouble(double value) {
  WriteTag(kTypeDouble);
  stream_.WriteDouble(value);
}

void TracedValue::AppendBoolean(bool value) {
  WriteTag(kTypeBool);
  stream_.WriteBool(value);
}

void TracedValue::AppendString(std::string_view value) {
  WriteTag(kTypeString);
  stream_.WriteString(value);
}

void TracedValue::BeginDictionary() { WriteTag(kTypeStartDict); }

void TracedValue::BeginArray() { WriteTag(kTypeStartArray); }

void TracedValue::EndDictionary() { WriteTag(kTypeEndDict); }

void TracedValue::EndArray() { WriteTag(kTypeEndArray); }

std::unique_ptr<DictValue> TracedValue::ToValue() const {
  auto root = std::make_unique<DictValue>();
  // The containers being filled, innermost last; the root has no tag.
  std::vector<Value*> stack = {root.get()};
  BinaryMessageReader reader(stream_);
  while (!reader.AtEnd()) {
    uint32_t tag = 0;
    if (!reader.ReadUInt32(&tag))
      break;
    if (tag == static_cast<uint32_t>(kTypeEndDict) || tag == static_cast<uint32_t>(kTypeEndArray)) {
      // The root is never closed by the stream.
      if (stack.size() <= 1) {
        LOG(ERROR) << "TracedValue closes more containers than it opened";
        return nullptr;
      }
      stack.pop_back();
      continue;
    }
    std::unique_ptr<Value> item;
    switch (static_cast<char>(tag)) {
      case kTypeStartDict: item = std::make_unique<DictValue>(); break;
      case kTypeStartArray: item = std::make_unique<ListValue>(); break;
      case kTypeBool: {
        bool value = false;
        if (!reader.ReadBool(&value))
          return nullptr;
        item = std::make_unique<ScalarValue>(value);
        break;
      }
      case kTypeInt: {
        int value = 0;
        if (!reader.ReadInt(&value))
          return nullptr;
        item = std::make_unique<ScalarValue>(value);
        break;
      }
      case kTypeDouble: {
        double value = 0;
        if (!reader.ReadDouble(&value))
          return nullptr;
        item = std::make_unique<ScalarValue>(value);
        break;
      }
      case kTypeString: {
        std::string value;
        if (!reader.ReadString(&value))
          return nullptr;
        item = std::make_unique<TextValue>(value);
        break;
      }
      default: LOG(ERROR) << "TracedValue holds an unknown item " << tag; return nullptr;
    }
    const bool opens = tag == static_cast<uint32_t>(kTypeStartDict) ||
                       tag == static_cast<uint32_t>(kTypeStartArray);
    Value* container = stack.back();
    Value* stored = nullptr;
    DictValue* dict = nullptr;
    ListValue* list = nullptr;
    if (container->GetAsDictionary(&dict)) {
      std::string key;
      if (!ReadKey(&reader, &key)) {
        LOG(ERROR) << "TracedValue lacks the key of a dictionary item";
        return nullptr;
      }
      stored = dict->SetWithoutPathExpansion(key, std::move(item));
    } else if (container->GetAsList(&list)) {
      stored = item.get();
      list->Append(std::move(item));
    }
    if (opens && stored)
      stack.push_back(stored);
  }
  return root;
}

void TracedValue::AppendAsTraceFormat(std::string* out) const {
  std::unique_ptr<DictValue> value = ToValue();
  std::string json;
  if (value && JsonWriter::Write(*value, &json))
    *out += json;
  else
    *out += "{}";
}

void TracedValue::EstimateTraceMemoryOverhead(TraceEventMemoryOverhead* overhead) {
  overhead->Add(kOverheadTracedValue, 1, stream_.capacity(), stream_.size());
}

}  // namespace base::trace_event
