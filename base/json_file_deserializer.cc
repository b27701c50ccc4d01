#include "base/json_file_deserializer.h"

#include <utility>

#include "base/files/file_util.h"
#include "base/json_reader.h"
#include "base/logging.h"

// <windows.h> (through file_util.h) defines ERROR as 0, which LOG(ERROR)
// then spells as severity "0".
#ifndef VELMO_LOG_SEVERITY_0
#define VELMO_LOG_SEVERITY_0 ::logging::LOG_ERROR
#endif

namespace base {

static_assert(JsonFileDeserializer::kErrorCannotReadFile > JsonReader::kErrorCodeCount,
              "file errors must not collide with parse errors");

namespace {

std::unique_ptr<Value> ParseText(std::string_view text, std::string_view source, int* error_code,
                                 std::string* error_message) {
  int code = JsonReader::kNoError;
  std::string message;
  std::unique_ptr<Value> root = JsonReader::ReadAndReturnError(text, &code, &message);
  if (!root)
    LOG(ERROR) << "Cannot parse JSON " << source << ": " << message;
  if (error_code)
    *error_code = code;
  if (error_message)
    *error_message = std::move(message);
  return root;
}

}  // namespace

JsonFileDeserializer::JsonFileDeserializer(const FilePath& path) : path_(path) {}

std::unique_ptr<Value> JsonFileDeserializer::Deserialize(int* error_code,
                                                         std::string* error_message) const {
  std::string contents;
  if (!ReadFileToString(path_, &contents)) {
    // ReadFileToString has logged the cause with the path.
    if (error_code)
      *error_code = kErrorCannotReadFile;
    if (error_message)
      *error_message = "Cannot read file " + path_.AsUTF8Unsafe();
    return nullptr;
  }
  return ParseText(contents, "file " + path_.AsUTF8Unsafe(), error_code, error_message);
}

JsonStringDeserializer::JsonStringDeserializer(std::string text) : text_(std::move(text)) {}

std::unique_ptr<Value> JsonStringDeserializer::Deserialize(int* error_code,
                                                           std::string* error_message) const {
  return ParseText(text_, "text", error_code, error_message);
}

}  // namespace base
