#include "base/json_writer.h"

#include <cmath>

#include "base/json_reader.h"
#include "base/json_string_escape.h"
#include "base/logging.h"
#include "base/string_number_conversions.h"

namespace base {

namespace {

constexpr char kPrettyPrintLineEnding[] = "\n";
constexpr size_t kIndentWidth = 3;

class Writer {
 public:
  Writer(int options, std::string* out)
      : omit_double_type_preservation_(options & JsonWriter::kOptionsOmitDoubleTypePreservation),
        pretty_print_(options & JsonWriter::kOptionsPrettyPrint),
        out_(out) {}

  bool WriteRoot(const Value& node) {
    if (!BuildJson(node, 0))
      return false;
    if (pretty_print_)
      out_->append(kPrettyPrintLineEnding);
    return true;
  }

 private:
  // |depth| counts the lists and dictionaries that enclose |node|.
  bool BuildJson(const Value& node, int depth) {
    switch (node.type()) {
      case Value::Type::kNull: out_->append("null"); return true;
      case Value::Type::kBoolean: {
        bool value = false;
        node.GetAsBoolean(&value);
        out_->append(value ? "true" : "false");
        return true;
      }
      case Value::Type::kInteger: {
        int value = 0;
        node.GetAsInteger(&value);
        out_->append(std::to_string(value));
        return true;
      }
      case Value::Type::kDouble: {
        double value = 0;
        node.GetAsDouble(&value);
        return WriteDouble(value);
      }
      case Value::Type::kString:
        return WriteString(static_cast<const TextValue&>(node).GetString());
      case Value::Type::kList:
        if (!CheckDepth(depth))
          return false;
        return WriteList(static_cast<const ListValue&>(node), depth);
      case Value::Type::kDictionary:
        if (!CheckDepth(depth))
          return false;
        return WriteDictionary(static_cast<const DictValue&>(node), depth);
    }
    LOG(ERROR) << "Cannot write a value of unknown type " << static_cast<int>(node.type());
    return false;
  }

  bool CheckDepth(int depth) {
    if (depth < JsonReader::kMaxDepth)
      return true;
    LOG(ERROR) << "Cannot write JSON nested deeper than " << JsonReader::kMaxDepth << " levels";
    return false;
  }

  bool WriteDouble(double value) {
    if (!std::isfinite(value)) {
      LOG(ERROR) << "Cannot write a non-finite number as JSON";
      return false;
    }
    std::string text = FormatDoubleShortest(value);
    // Without a point or an exponent the text would read back as an integer.
    if (!omit_double_type_preservation_ && text.find_first_of(".eE") == std::string::npos)
      text.append(".0");
    out_->append(text);
    return true;
  }

  bool WriteString(std::string_view text) {
    if (!EscapeJsonString(text, true, out_)) {
      LOG(ERROR) << "Cannot write text that is not well-formed UTF-8 as JSON";
      return false;
    }
    return true;
  }

  bool WriteList(const ListValue& list, int depth) {
    if (list.empty()) {
      out_->append("[]");
      return true;
    }
    out_->push_back('[');
    bool first = true;
    for (const auto& item : list) {
      StartEntry(first, depth + 1);
      first = false;
      if (!BuildJson(*item, depth + 1))
        return false;
    }
    EndContainer(depth);
    out_->push_back(']');
    return true;
  }

  bool WriteDictionary(const DictValue& dict, int depth) {
    if (dict.empty()) {
      out_->append("{}");
      return true;
    }
    out_->push_back('{');
    bool first = true;
    for (DictValue::Iterator it(dict); !it.IsAtEnd(); it.Advance()) {
      StartEntry(first, depth + 1);
      first = false;
      if (!WriteString(it.key()))
        return false;
      out_->append(pretty_print_ ? ": " : ":");
      if (!BuildJson(it.value(), depth + 1))
        return false;
    }
    EndContainer(depth);
    out_->push_back('}');
    return true;
  }

  // Before each entry of a container whose entries sit at |depth|.
  void StartEntry(bool first, int depth) {
    if (!first)
      out_->push_back(',');
    if (pretty_print_) {
      out_->append(kPrettyPrintLineEnding);
      out_->append(kIndentWidth * static_cast<size_t>(depth), ' ');
    }
  }

  // Before the closing bracket of a container at |depth|.
  void EndContainer(int depth) {
    if (pretty_print_) {
      out_->append(kPrettyPrintLineEnding);
      out_->append(kIndentWidth * static_cast<size_t>(depth), ' ');
    }
  }

  const bool omit_double_type_preservation_;
  const bool pretty_print_;
  std::string* const out_;
};

}  // namespace

// static
bool JsonWriter::Write(const Value& node, std::string* json) {
  return WriteWithOptions(node, kOptionsNone, json);
}

// static
bool JsonWriter::WriteWithOptions(const Value& node, int options, std::string* json) {
  json->clear();
  Writer writer(options, json);
  return writer.WriteRoot(node);
}

}  // namespace base
