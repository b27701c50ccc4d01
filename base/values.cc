#include "base/values.h"

#include <utility>

#include "base/logging.h"
#include "base/string_util.h"
#include "base/utf_string_conversions.h"

namespace base {

namespace {

// Splits |path| at its first '.'; false when it has none.
bool SplitFirst(std::string_view path, std::string_view* head, std::string_view* rest) {
  size_t dot = path.find('.');
  if (dot == std::string_view::npos)
    return false;
  *head = path.substr(0, dot);
  *rest = path.substr(dot + 1);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Value

Value::~Value() = default;

std::unique_ptr<Value> Value::CreateNullValue() { return std::make_unique<ScalarValue>(); }

const char* Value::GetTypeName(Type type) {
  switch (type) {
    case Type::kNull: return "null";
    case Type::kBoolean: return "boolean";
    case Type::kInteger: return "integer";
    case Type::kDouble: return "double";
    case Type::kString: return "string";
    case Type::kList: return "list";
    case Type::kDictionary: return "dictionary";
  }
  return "unknown";
}

bool Value::GetAsBoolean(bool*) const { return false; }
bool Value::GetAsInteger(int*) const { return false; }
bool Value::GetAsDouble(double*) const { return false; }
bool Value::GetAsString(std::string*) const { return false; }
bool Value::GetAsString(std::wstring*) const { return false; }
bool Value::GetAsList(ListValue**) { return false; }
bool Value::GetAsList(const ListValue**) const { return false; }
bool Value::GetAsDictionary(DictValue**) { return false; }
bool Value::GetAsDictionary(const DictValue**) const { return false; }

// ---------------------------------------------------------------------------
// ScalarValue

ScalarValue::ScalarValue() : Value(Type::kNull), integer_value_(0) {}
ScalarValue::ScalarValue(bool value) : Value(Type::kBoolean), boolean_value_(value) {}
ScalarValue::ScalarValue(int value) : Value(Type::kInteger), integer_value_(value) {}
ScalarValue::ScalarValue(double value) : Value(Type::kDouble), double_value_(value) {}
ScalarValue::~ScalarValue() = default;

bool ScalarValue::GetAsBoolean(bool* out) const {
  if (!IsType(Type::kBoolean))
    return false;
  if (out)
    *out = boolean_value_;
  return true;
}

bool ScalarValue::GetAsInteger(int* out) const {
  if (!IsType(Type::kInteger))
    return false;
  if (out)
    *out = integer_value_;
  return true;
}

bool ScalarValue::GetAsDouble(double* out) const {
  if (IsType(Type::kDouble)) {
    if (out)
      *out = double_value_;
    return true;
  }
  if (IsType(Type::kInteger)) {
    if (out)
      *out = integer_value_;
    return true;
  }
  return false;
}

std::unique_ptr<Value> ScalarValue::CreateDeepCopy() const {
  switch (type()) {
    case Type::kBoolean: return std::make_unique<ScalarValue>(boolean_value_);
    case Type::kInteger: return std::make_unique<ScalarValue>(integer_value_);
    case Type::kDouble: return std::make_unique<ScalarValue>(double_value_);
    default: return std::make_unique<ScalarValue>();
  }
}

bool ScalarValue::Equals(const Value* other) const {
  if (!other || other->type() != type())
    return false;
  switch (type()) {
    case Type::kBoolean: {
      bool b = false;
      return other->GetAsBoolean(&b) && b == boolean_value_;
    }
    case Type::kInteger: {
      int i = 0;
      return other->GetAsInteger(&i) && i == integer_value_;
    }
    case Type::kDouble: {
      double d = 0;
      return other->GetAsDouble(&d) && d == double_value_;
    }
    default: return true;  // null
  }
}

// ---------------------------------------------------------------------------
// TextValue

TextValue::TextValue(std::string_view utf8) : Value(Type::kString), value_(utf8) {}
TextValue::TextValue(std::wstring_view utf16) : Value(Type::kString), value_(WideToUTF8(utf16)) {}
TextValue::~TextValue() = default;

bool TextValue::GetAsString(std::string* out) const {
  if (out)
    *out = value_;
  return true;
}

bool TextValue::GetAsString(std::wstring* out) const {
  if (out)
    *out = UTF8ToWide(value_);
  return true;
}

std::unique_ptr<Value> TextValue::CreateDeepCopy() const {
  return std::make_unique<TextValue>(value_);
}

bool TextValue::Equals(const Value* other) const {
  if (!other || !other->IsType(Type::kString))
    return false;
  return static_cast<const TextValue*>(other)->value_ == value_;
}

// ---------------------------------------------------------------------------
// DictValue

DictValue::DictValue() : Value(Type::kDictionary) {}
DictValue::~DictValue() = default;

bool DictValue::HasKey(std::string_view key) const {
  return dictionary_.find(key) != dictionary_.end();
}

Value* DictValue::Set(std::string_view path, std::unique_ptr<Value> in_value) {
  if (!in_value) {
    LOG(ERROR) << "Refusing to store a missing value at \"" << path << "\"";
    return nullptr;
  }
  DictValue* current = this;
  std::string_view head;
  std::string_view rest;
  while (SplitFirst(path, &head, &rest)) {
    DictValue* child = nullptr;
    if (!current->GetDictionaryWithoutPathExpansion(head, &child)) {
      // Missing, or something else that the path now runs through.
      child = static_cast<DictValue*>(
          current->SetWithoutPathExpansion(head, std::make_unique<DictValue>()));
    }
    current = child;
    path = rest;
  }
  return current->SetWithoutPathExpansion(path, std::move(in_value));
}

void DictValue::SetBoolean(std::string_view path, bool value) {
  Set(path, std::make_unique<ScalarValue>(value));
}

void DictValue::SetInteger(std::string_view path, int value) {
  Set(path, std::make_unique<ScalarValue>(value));
}

void DictValue::SetDouble(std::string_view path, double value) {
  Set(path, std::make_unique<ScalarValue>(value));
}

void DictValue::SetString(std::string_view path, std::string_view utf8) {
  Set(path, std::make_unique<TextValue>(utf8));
}

void DictValue::SetString(std::string_view path, std::wstring_view utf16) {
  Set(path, std::make_unique<TextValue>(utf16));
}

Value* DictValue::SetWithoutPathExpansion(std::string_view key, std::unique_ptr<Value> in_value) {
  if (!in_value) {
    LOG(ERROR) << "Refusing to store a missing value at key \"" << key << "\"";
    return nullptr;
  }
  Value* stored = in_value.get();
  auto it = dictionary_.find(key);
  if (it != dictionary_.end())
    it->second = std::move(in_value);
  else
    dictionary_.emplace(std::string(key), std::move(in_value));
  return stored;
}

void DictValue::SetBooleanWithoutPathExpansion(std::string_view key, bool value) {
  SetWithoutPathExpansion(key, std::make_unique<ScalarValue>(value));
}

void DictValue::SetIntegerWithoutPathExpansion(std::string_view key, int value) {
  SetWithoutPathExpansion(key, std::make_unique<ScalarValue>(value));
}

void DictValue::SetStringWithoutPathExpansion(std::string_view key, std::string_view utf8) {
  SetWithoutPathExpansion(key, std::make_unique<TextValue>(utf8));
}

void DictValue::SetStringWithoutPathExpansion(std::string_view key, std::wstring_view utf16) {
  SetWithoutPathExpansion(key, std::make_unique<TextValue>(utf16));
}

const DictValue* DictValue::FindParent(std::string_view path, std::string_view* last_key) const {
  const DictValue* current = this;
  std::string_view head;
  std::string_view rest;
  while (SplitFirst(path, &head, &rest)) {
    if (!current->GetDictionaryWithoutPathExpansion(head, &current))
      return nullptr;
    path = rest;
  }
  *last_key = path;
  return current;
}

const Value* DictValue::Find(std::string_view path) const {
  auto it = dictionary_.find(path);
  if (it != dictionary_.end())
    return it->second.get();
  std::string_view last_key;
  const DictValue* parent = FindParent(path, &last_key);
  if (!parent || parent == this)
    return nullptr;  // No dot in |path|: the literal lookup already failed.
  auto found = parent->dictionary_.find(last_key);
  return found != parent->dictionary_.end() ? found->second.get() : nullptr;
}

bool DictValue::Get(std::string_view path, const Value** out) const {
  const Value* value = Find(path);
  if (!value)
    return false;
  if (out)
    *out = value;
  return true;
}

bool DictValue::Get(std::string_view path, Value** out) {
  const Value* value = Find(path);
  if (!value)
    return false;
  if (out)
    *out = const_cast<Value*>(value);
  return true;
}

bool DictValue::GetBoolean(std::string_view path, bool* out) const {
  const Value* value = Find(path);
  return value && value->GetAsBoolean(out);
}

bool DictValue::GetInteger(std::string_view path, int* out) const {
  const Value* value = Find(path);
  return value && value->GetAsInteger(out);
}

bool DictValue::GetDouble(std::string_view path, double* out) const {
  const Value* value = Find(path);
  return value && value->GetAsDouble(out);
}

bool DictValue::GetString(std::string_view path, std::string* out) const {
  const Value* value = Find(path);
  return value && value->GetAsString(out);
}

bool DictValue::GetString16(std::string_view path, std::wstring* out) const {
  const Value* value = Find(path);
  return value && value->GetAsString(out);
}

bool DictValue::GetStringASCII(std::string_view path, std::string* out) const {
  const Value* value = Find(path);
  if (!value || !value->IsType(Type::kString))
    return false;
  const std::string& text = static_cast<const TextValue*>(value)->GetString();
  if (!IsStringASCII(text))
    return false;
  if (out)
    *out = text;
  return true;
}

bool DictValue::GetList(std::string_view path, const ListValue** out) const {
  const Value* value = Find(path);
  return value && value->GetAsList(out);
}

bool DictValue::GetList(std::string_view path, ListValue** out) {
  Value* value = const_cast<Value*>(Find(path));
  return value && value->GetAsList(out);
}

bool DictValue::GetDictionary(std::string_view path, const DictValue** out) const {
  const Value* value = Find(path);
  return value && value->GetAsDictionary(out);
}

bool DictValue::GetDictionary(std::string_view path, DictValue** out) {
  Value* value = const_cast<Value*>(Find(path));
  return value && value->GetAsDictionary(out);
}

bool DictValue::GetWithoutPathExpansion(std::string_view key, const Value** out) const {
  auto it = dictionary_.find(key);
  if (it == dictionary_.end())
    return false;
  if (out)
    *out = it->second.get();
  return true;
}

bool DictValue::GetWithoutPathExpansion(std::string_view key, Value** out) {
  auto it = dictionary_.find(key);
  if (it == dictionary_.end())
    return false;
  if (out)
    *out = it->second.get();
  return true;
}

bool DictValue::GetBooleanWithoutPathExpansion(std::string_view key, bool* out) const {
  const Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsBoolean(out);
}

bool DictValue::GetIntegerWithoutPathExpansion(std::string_view key, int* out) const {
  const Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsInteger(out);
}

bool DictValue::GetStringWithoutPathExpansion(std::string_view key, std::string* out) const {
  const Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsString(out);
}

bool DictValue::GetListWithoutPathExpansion(std::string_view key, const ListValue** out) const {
  const Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsList(out);
}

bool DictValue::GetListWithoutPathExpansion(std::string_view key, ListValue** out) {
  Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsList(out);
}

bool DictValue::GetDictionaryWithoutPathExpansion(std::string_view key,
                                                  const DictValue** out) const {
  const Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsDictionary(out);
}

bool DictValue::GetDictionaryWithoutPathExpansion(std::string_view key, DictValue** out) {
  Value* value = nullptr;
  return GetWithoutPathExpansion(key, &value) && value->GetAsDictionary(out);
}

bool DictValue::Remove(std::string_view path, std::unique_ptr<Value>* out_value) {
  if (HasKey(path))
    return RemoveWithoutPathExpansion(path, out_value);
  std::string_view last_key;
  DictValue* parent = const_cast<DictValue*>(FindParent(path, &last_key));
  if (!parent || parent == this)
    return false;
  return parent->RemoveWithoutPathExpansion(last_key, out_value);
}

bool DictValue::RemoveWithoutPathExpansion(std::string_view key,
                                           std::unique_ptr<Value>* out_value) {
  auto it = dictionary_.find(key);
  if (it == dictionary_.end())
    return false;
  if (out_value)
    *out_value = std::move(it->second);
  dictionary_.erase(it);
  return true;
}

bool DictValue::GetAsDictionary(DictValue** out) {
  if (out)
    *out = this;
  return true;
}

bool DictValue::GetAsDictionary(const DictValue** out) const {
  if (out)
    *out = this;
  return true;
}

std::unique_ptr<Value> DictValue::CreateDeepCopy() const { return CreateDeepCopyDict(); }

std::unique_ptr<DictValue> DictValue::CreateDeepCopyDict() const {
  auto copy = std::make_unique<DictValue>();
  for (const auto& [key, value] : dictionary_)
    copy->dictionary_.emplace_hint(copy->dictionary_.end(), key, value->CreateDeepCopy());
  return copy;
}

bool DictValue::Equals(const Value* other) const {
  if (!other || !other->IsType(Type::kDictionary))
    return false;
  const DictValue* other_dict = static_cast<const DictValue*>(other);
  if (other_dict->dictionary_.size() != dictionary_.size())
    return false;
  auto mine = dictionary_.begin();
  auto theirs = other_dict->dictionary_.begin();
  for (; mine != dictionary_.end(); ++mine, ++theirs) {
    if (mine->first != theirs->first || !mine->second->Equals(theirs->second.get()))
      return false;
  }
  return true;
}

DictValue::Iterator::Iterator(const DictValue& dict) : dict_(dict), it_(dict.dictionary_.begin()) {}

// ---------------------------------------------------------------------------
// ListValue

ListValue::ListValue() : Value(Type::kList) {}
ListValue::~ListValue() = default;

void ListValue::Append(std::unique_ptr<Value> in_value) {
  if (!in_value) {
    LOG(ERROR) << "Refusing to append a missing value to a list";
    return;
  }
  list_.push_back(std::move(in_value));
}

void ListValue::AppendBoolean(bool value) { Append(std::make_unique<ScalarValue>(value)); }
void ListValue::AppendInteger(int value) { Append(std::make_unique<ScalarValue>(value)); }
void ListValue::AppendDouble(double value) { Append(std::make_unique<ScalarValue>(value)); }
void ListValue::AppendString(std::string_view utf8) { Append(std::make_unique<TextValue>(utf8)); }
void ListValue::AppendString(std::wstring_view utf16) {
  Append(std::make_unique<TextValue>(utf16));
}

bool ListValue::Set(size_t index, std::unique_ptr<Value> in_value) {
  if (!in_value) {
    LOG(ERROR) << "Refusing to store a missing value at list index " << index;
    return false;
  }
  if (index >= kMaxSetIndex) {
    LOG(ERROR) << "List index " << index << " is out of the supported range";
    return false;
  }
  while (list_.size() < index)
    list_.push_back(Value::CreateNullValue());
  if (index == list_.size())
    list_.push_back(std::move(in_value));
  else
    list_[index] = std::move(in_value);
  return true;
}

bool ListValue::Get(size_t index, const Value** out) const {
  if (index >= list_.size())
    return false;
  if (out)
    *out = list_[index].get();
  return true;
}

bool ListValue::Get(size_t index, Value** out) {
  if (index >= list_.size())
    return false;
  if (out)
    *out = list_[index].get();
  return true;
}

bool ListValue::GetBoolean(size_t index, bool* out) const {
  return index < list_.size() && list_[index]->GetAsBoolean(out);
}

bool ListValue::GetInteger(size_t index, int* out) const {
  return index < list_.size() && list_[index]->GetAsInteger(out);
}

bool ListValue::GetDouble(size_t index, double* out) const {
  return index < list_.size() && list_[index]->GetAsDouble(out);
}

bool ListValue::GetString(size_t index, std::string* out) const {
  return index < list_.size() && list_[index]->GetAsString(out);
}

bool ListValue::GetString(size_t index, std::wstring* out) const {
  return index < list_.size() && list_[index]->GetAsString(out);
}

bool ListValue::GetList(size_t index, const ListValue** out) const {
  return index < list_.size() && std::as_const(*list_[index]).GetAsList(out);
}

bool ListValue::GetList(size_t index, ListValue** out) {
  return index < list_.size() && list_[index]->GetAsList(out);
}

bool ListValue::GetDictionary(size_t index, const DictValue** out) const {
  return index < list_.size() && std::as_const(*list_[index]).GetAsDictionary(out);
}

bool ListValue::GetDictionary(size_t index, DictValue** out) {
  return index < list_.size() && list_[index]->GetAsDictionary(out);
}

bool ListValue::Remove(size_t index, std::unique_ptr<Value>* out_value) {
  if (index >= list_.size())
    return false;
  if (out_value)
    *out_value = std::move(list_[index]);
  list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

bool ListValue::GetAsList(ListValue** out) {
  if (out)
    *out = this;
  return true;
}

bool ListValue::GetAsList(const ListValue** out) const {
  if (out)
    *out = this;
  return true;
}

std::unique_ptr<Value> ListValue::CreateDeepCopy() const { return CreateDeepCopyList(); }

std::unique_ptr<ListValue> ListValue::CreateDeepCopyList() const {
  auto copy = std::make_unique<ListValue>();
  copy->list_.reserve(list_.size());
  for (const auto& value : list_)
    copy->list_.push_back(value->CreateDeepCopy());
  return copy;
}

bool ListValue::Equals(const Value* other) const {
  if (!other || !other->IsType(Type::kList))
    return false;
  const ListValue* other_list = static_cast<const ListValue*>(other);
  if (other_list->list_.size() != list_.size())
    return false;
  for (size_t i = 0; i < list_.size(); ++i) {
    if (!list_[i]->Equals(other_list->list_[i].get()))
      return false;
  }
  return true;
}

}  // namespace base
