#include "crash_upload/net/multipart_body_builder.h"

#include <vector>

#include "base/logging.h"
#include "base/rand_util.h"
#include "base/string_printf.h"

namespace crash_upload {
namespace {

constexpr char kBoundaryAlphabet[] =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kDefaultContentType[] = "application/octet-stream";

bool IsContentTypeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '-' || c == '.' || c == '/' || c == '_';
}

}  // namespace

MultipartBodyBuilder::MultipartBodyBuilder() {
  boundary_ = "---MultipartBoundary-";
  for (int i = 0; i < 32; ++i) boundary_.push_back(kBoundaryAlphabet[base::RandInt(0, 61)]);
  boundary_ += "---";
}

void MultipartBodyBuilder::SetFormData(const std::string& key, const std::string& value) {
  attachments_.erase(key);
  form_data_[key] = value;
}

void MultipartBodyBuilder::SetFileAttachment(const std::string& key,
                                             const std::string& upload_file_name,
                                             const base::FilePath& path,
                                             const std::string& content_type) {
  std::string type = content_type.empty() ? kDefaultContentType : content_type;
  for (char c : type) CHECK(IsContentTypeCharacter(c));
  attachments_[key] = Attachment{EncodeMimeField(upload_file_name), path, type};
}

std::unique_ptr<HttpBodyStream> MultipartBodyBuilder::GetBodyStream() const {
  std::vector<std::unique_ptr<HttpBodyStream>> parts;
  for (const auto& [key, value] : form_data_) {
    parts.push_back(std::make_unique<HttpStringBody>(
        "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + EncodeMimeField(key) +
        "\"\r\n\r\n" + value + "\r\n"));
  }
  for (const auto& [key, attachment] : attachments_) {
    parts.push_back(std::make_unique<HttpStringBody>(
        "--" + boundary_ + "\r\nContent-Disposition: form-data; name=\"" + EncodeMimeField(key) +
        "\"; filename=\"" + attachment.file_name +
        "\"\r\nContent-Type: " + attachment.content_type + "\r\n\r\n"));
    parts.push_back(std::make_unique<HttpFileBody>(attachment.path));
    parts.push_back(std::make_unique<HttpStringBody>("\r\n"));
  }
  parts.push_back(std::make_unique<HttpStringBody>("--" + boundary_ + "--\r\n"));
  return std::make_unique<HttpConcatBody>(std::move(parts));
}

std::pair<std::string, std::string> MultipartBodyBuilder::PopulateContentHeaders() const {
  return {"Content-Type", "multipart/form-data; boundary=" + boundary_};
}

std::string MultipartBodyBuilder::EncodeMimeField(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r' || c == '\n' || c == '"' || c == '%')
      out += base::FormatString("%%%02x", static_cast<unsigned char>(c));
    else
      out.push_back(c);
  }
  return out;
}

}  // namespace crash_upload
