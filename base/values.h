// The in-memory tree of a JSON document: scalars, text, lists and
// dictionaries. Containers own their children; a value is copied only through
// CreateDeepCopy().
//
// Dictionary keys and paths. DictValue::Set() and friends treat their key as
// a dotted path: Set("a.b", v) stores v under key "b" of the dictionary under
// key "a", creating "a" (or replacing a non-dictionary "a") as needed. Keys
// that themselves contain dots (host names, file names) go through the
// *WithoutPathExpansion variants.
//
// Lookups (Get, GetString, ..., Remove) accept either: the whole text is tried
// as a literal key first; only when no such key exists is it split at every
// '.' and followed component by component through nested dictionaries. When
// the literal key exists it wins even if its value has another type than the
// one asked for (the getter then answers false). HasKey() tests the literal
// key only.
//
// Getters answer a question; false ("missing or of another type") is an
// ordinary answer, so they do not log.
#ifndef BASE_VALUES_H_
#define BASE_VALUES_H_

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace base {

class DictValue;
class ListValue;
class ScalarValue;

class Value {
 public:
  // The numbers are stable: they are stored and compared by other code.
  enum class Type {
    kNull = 0,
    kBoolean = 1,
    kInteger = 2,
    kDouble = 3,
    kString = 4,
    kList = 5,
    kDictionary = 6,
  };

  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  virtual ~Value();

  static std::unique_ptr<Value> CreateNullValue();
  // "null", "boolean", "integer", "double", "string", "list", "dictionary".
  static const char* GetTypeName(Type type);

  Type type() const { return type_; }
  bool IsType(Type type) const { return type_ == type; }

  // Typed views; false (and |out| untouched) when the value is of another
  // type. GetAsDouble also accepts an integer. |out| may be null to only test.
  virtual bool GetAsBoolean(bool* out) const;
  virtual bool GetAsInteger(int* out) const;
  virtual bool GetAsDouble(double* out) const;
  virtual bool GetAsString(std::string* out) const;
  virtual bool GetAsString(std::wstring* out) const;
  virtual bool GetAsList(ListValue** out);
  virtual bool GetAsList(const ListValue** out) const;
  virtual bool GetAsDictionary(DictValue** out);
  virtual bool GetAsDictionary(const DictValue** out) const;

  // A copy of the whole subtree, independent of this one.
  virtual std::unique_ptr<Value> CreateDeepCopy() const = 0;
  // Same type and same content (recursively). An integer never equals a
  // double. False for a null |other|.
  virtual bool Equals(const Value* other) const = 0;

 protected:
  explicit Value(Type type) : type_(type) {}

 private:
  const Type type_;
};

// null, a boolean, a 32-bit integer or a double.
class ScalarValue : public Value {
 public:
  // The null value.
  ScalarValue();
  explicit ScalarValue(bool value);
  explicit ScalarValue(int value);
  explicit ScalarValue(double value);
  // A pointer would silently become a boolean.
  explicit ScalarValue(const char*) = delete;
  explicit ScalarValue(const wchar_t*) = delete;
  ~ScalarValue() override;

  bool GetAsBoolean(bool* out) const override;
  bool GetAsInteger(int* out) const override;
  bool GetAsDouble(double* out) const override;
  std::unique_ptr<Value> CreateDeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  union {
    bool boolean_value_;
    int integer_value_;
    double double_value_;
  };
};

// UTF-8 text.
class TextValue : public Value {
 public:
  explicit TextValue(std::string_view utf8);
  // Converted to UTF-8; lone surrogates become U+FFFD.
  explicit TextValue(std::wstring_view utf16);
  ~TextValue() override;

  const std::string& GetString() const { return value_; }

  bool GetAsString(std::string* out) const override;
  bool GetAsString(std::wstring* out) const override;
  std::unique_ptr<Value> CreateDeepCopy() const override;
  bool Equals(const Value* other) const override;

 private:
  std::string value_;
};

class DictValue : public Value {
 public:
  using Storage = std::map<std::string, std::unique_ptr<Value>, std::less<>>;

  DictValue();
  ~DictValue() override;

  size_t size() const { return dictionary_.size(); }
  bool empty() const { return dictionary_.empty(); }
  void Clear() { dictionary_.clear(); }
  // Literal key only (no path expansion).
  bool HasKey(std::string_view key) const;

  // Stores |in_value| at the dotted |path|. A null |in_value| is refused
  // (logged). Returns the stored value, or null when refused.
  Value* Set(std::string_view path, std::unique_ptr<Value> in_value);
  void SetBoolean(std::string_view path, bool value);
  void SetInteger(std::string_view path, int value);
  void SetDouble(std::string_view path, double value);
  void SetString(std::string_view path, std::string_view utf8);
  void SetString(std::string_view path, std::wstring_view utf16);

  // The same with |key| taken literally.
  Value* SetWithoutPathExpansion(std::string_view key, std::unique_ptr<Value> in_value);
  void SetBooleanWithoutPathExpansion(std::string_view key, bool value);
  void SetIntegerWithoutPathExpansion(std::string_view key, int value);
  void SetStringWithoutPathExpansion(std::string_view key, std::string_view utf8);
  void SetStringWithoutPathExpansion(std::string_view key, std::wstring_view utf16);

  // Lookups by literal key or dotted path (see the top of this file). The
  // out pointer may be null to only test. Pointers stay valid until the
  // entry is replaced or removed.
  bool Get(std::string_view path, const Value** out) const;
  bool Get(std::string_view path, Value** out);
  bool GetBoolean(std::string_view path, bool* out) const;
  bool GetInteger(std::string_view path, int* out) const;
  // Also accepts an integer.
  bool GetDouble(std::string_view path, double* out) const;
  bool GetString(std::string_view path, std::string* out) const;
  bool GetString16(std::string_view path, std::wstring* out) const;
  // False also when the text is not pure ASCII.
  bool GetStringASCII(std::string_view path, std::string* out) const;
  bool GetList(std::string_view path, const ListValue** out) const;
  bool GetList(std::string_view path, ListValue** out);
  bool GetDictionary(std::string_view path, const DictValue** out) const;
  bool GetDictionary(std::string_view path, DictValue** out);

  // Lookups by literal key only.
  bool GetWithoutPathExpansion(std::string_view key, const Value** out) const;
  bool GetWithoutPathExpansion(std::string_view key, Value** out);
  bool GetBooleanWithoutPathExpansion(std::string_view key, bool* out) const;
  bool GetIntegerWithoutPathExpansion(std::string_view key, int* out) const;
  bool GetStringWithoutPathExpansion(std::string_view key, std::string* out) const;
  bool GetListWithoutPathExpansion(std::string_view key, const ListValue** out) const;
  bool GetListWithoutPathExpansion(std::string_view key, ListValue** out);
  bool GetDictionaryWithoutPathExpansion(std::string_view key, const DictValue** out) const;
  bool GetDictionaryWithoutPathExpansion(std::string_view key, DictValue** out);

  // Removes the entry at a literal key or dotted path (looked up as Get()
  // does) and hands it to |out_value| when that is not null. False when
  // there is no such entry.
  bool Remove(std::string_view path, std::unique_ptr<Value>* out_value);
  bool RemoveWithoutPathExpansion(std::string_view key, std::unique_ptr<Value>* out_value);

  bool GetAsDictionary(DictValue** out) override;
  bool GetAsDictionary(const DictValue** out) const override;
  std::unique_ptr<Value> CreateDeepCopy() const override;
  std::unique_ptr<DictValue> CreateDeepCopyDict() const;
  bool Equals(const Value* other) const override;

  // Visits the entries in key order (byte-wise comparison of the UTF-8 keys).
  // The dictionary must not change while an iterator is in use.
  //   for (DictValue::Iterator it(dict); !it.IsAtEnd(); it.Advance()) ...
  class Iterator {
   public:
    explicit Iterator(const DictValue& dict);
    bool IsAtEnd() const { return it_ == dict_.dictionary_.end(); }
    void Advance() { ++it_; }
    const std::string& key() const { return it_->first; }
    const Value& value() const { return *it_->second; }

   private:
    const DictValue& dict_;
    Storage::const_iterator it_;
  };

 private:
  // The dictionary that holds the last component of |path| (nullptr when an
  // intermediate component is missing or no dictionary), and that component.
  const DictValue* FindParent(std::string_view path, std::string_view* last_key) const;
  // Finds the literal key, then the dotted path.
  const Value* Find(std::string_view path) const;

  Storage dictionary_;
};

class ListValue : public Value {
 public:
  using Storage = std::vector<std::unique_ptr<Value>>;
  using const_iterator = Storage::const_iterator;

  // Set() refuses indexes from here on: a list this long only comes from an
  // index computed from bad input, and padding to it would exhaust memory.
  static constexpr size_t kMaxSetIndex = 1u << 24;

  ListValue();
  ~ListValue() override;

  size_t size() const { return list_.size(); }
  bool empty() const { return list_.empty(); }
  void Clear() { list_.clear(); }

  // A null |in_value| is refused (logged).
  void Append(std::unique_ptr<Value> in_value);
  void AppendBoolean(bool value);
  void AppendInteger(int value);
  void AppendDouble(double value);
  void AppendString(std::string_view utf8);
  void AppendString(std::wstring_view utf16);

  // Replaces the entry at |index|; past the end the list is first padded
  // with null values. False (logged) for a null |in_value| or an index of
  // kMaxSetIndex or more.
  bool Set(size_t index, std::unique_ptr<Value> in_value);

  // False when |index| is out of range or the entry is of another type.
  bool Get(size_t index, const Value** out) const;
  bool Get(size_t index, Value** out);
  bool GetBoolean(size_t index, bool* out) const;
  bool GetInteger(size_t index, int* out) const;
  bool GetDouble(size_t index, double* out) const;
  bool GetString(size_t index, std::string* out) const;
  bool GetString(size_t index, std::wstring* out) const;
  bool GetList(size_t index, const ListValue** out) const;
  bool GetList(size_t index, ListValue** out);
  bool GetDictionary(size_t index, const DictValue** out) const;
  bool GetDictionary(size_t index, DictValue** out);

  // Removes the entry at |index|, handing it to |out_value| when that is not
  // null; later entries move down. False when |index| is out of range.
  bool Remove(size_t index, std::unique_ptr<Value>* out_value);

  // Entries in order, as owning pointers (never null).
  const_iterator begin() const { return list_.begin(); }
  const_iterator end() const { return list_.end(); }

  bool GetAsList(ListValue** out) override;
  bool GetAsList(const ListValue** out) const override;
  std::unique_ptr<Value> CreateDeepCopy() const override;
  std::unique_ptr<ListValue> CreateDeepCopyList() const;
  bool Equals(const Value* other) const override;

 private:
  Storage list_;
};

}  // namespace base

#endif  // BASE_VALUES_H_
