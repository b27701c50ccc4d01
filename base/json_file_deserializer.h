// Reads a whole JSON document, from a file or from text, into a Value tree.
//
// Error codes: 0 on success; kErrorCannotReadFile when the file cannot be
// read; otherwise the JsonReader::ErrorCode of the parse error (all below
// kErrorCannotReadFile). Each failure is logged once, naming the file (a
// read failure by ReadFileToString).
#ifndef BASE_JSON_FILE_DESERIALIZER_H_
#define BASE_JSON_FILE_DESERIALIZER_H_

#include <memory>
#include <string>

#include "base/files/file_path.h"
#include "base/values.h"

namespace base {

class JsonFileDeserializer {
 public:
  // Distinct from every JsonReader::ErrorCode.
  static constexpr int kErrorCannotReadFile = 1000;

  explicit JsonFileDeserializer(const FilePath& path);

  // The tree, or null with |*error_code| (never 0) and |*error_message| set.
  // On success |*error_code| is 0 and |*error_message| is cleared. Either
  // out parameter may be null.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) const;

 private:
  const FilePath path_;
};

class JsonStringDeserializer {
 public:
  explicit JsonStringDeserializer(std::string text);

  // As JsonFileDeserializer::Deserialize, for the text; the error codes are
  // JsonReader's.
  std::unique_ptr<Value> Deserialize(int* error_code, std::string* error_message) const;

 private:
  const std::string text_;
};

}  // namespace base

#endif  // BASE_JSON_FILE_DESERIALIZER_H_
