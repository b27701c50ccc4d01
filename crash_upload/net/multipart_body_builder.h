// Builds a "multipart/form-data" body as a chain of body streams: text
// fields and file attachments, each file read only when the body is sent.
#ifndef CRASH_UPLOAD_NET_MULTIPART_BODY_BUILDER_H_
#define CRASH_UPLOAD_NET_MULTIPART_BODY_BUILDER_H_

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "base/files/file_path.h"
#include "crash_upload/net/http_body.h"

namespace crash_upload {

class MultipartBodyBuilder {
 public:
  MultipartBodyBuilder();

  // Stores |value| under |key|, replacing a field or attachment of that key.
  void SetFormData(const std::string& key, const std::string& value);
  // Stores the attachment |key|; an empty |content_type| means
  // "application/octet-stream". A content type outside [A-Za-z0-9+-./_] is
  // a programming error that stops the process.
  void SetFileAttachment(const std::string& key, const std::string& upload_file_name,
                         const base::FilePath& path, const std::string& content_type);

  // A new stream over the whole body; the builder stays usable.
  std::unique_ptr<HttpBodyStream> GetBodyStream() const;
  // ("Content-Type", "multipart/form-data; boundary=" + boundary).
  std::pair<std::string, std::string> PopulateContentHeaders() const;

  const std::string& boundary() const { return boundary_; }

  // CR, LF, double quote and percent sign as "%0d", "%0a", "%22", "%25", so
  // that a name cannot end its quoted string or header line.
  static std::string EncodeMimeField(const std::string& text);

 private:
  struct Attachment {
    std::string file_name;
    base::FilePath path;
    std::string content_type;
  };

  std::string boundary_;
  std::map<std::string, std::string> form_data_;
  std::map<std::string, Attachment> attachments_;
};

}  // namespace crash_upload

#endif  // CRASH_UPLOAD_NET_MULTIPART_BODY_BUILDER_H_
