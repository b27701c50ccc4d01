#include "desktop/windows/installer/service/xml_document.h"

#include <shlwapi.h>

#include <climits>
#include <cstring>
#include <utility>

#include "base/files/file.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/service/msxml_ids.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// Larger files are not install logs or other files of ours; refusing them
// keeps a damaged or hostile file from exhausting memory.
constexpr size_t kMaxDocumentBytes = 64 * 1024 * 1024;

// The first child node of |node| (null when it has none), and the node
// after |node| among its parent's children (null after the last). Walking
// a node list by index costs time in proportion to the index in some DOM
// implementations, which makes reading every child quadratic; the sibling
// links cost the same for every node.
ComPtr<IXMLDOMNode> FirstChild(IXMLDOMNode* node, HRESULT* hr) {
  ComPtr<IXMLDOMNode> child;
  *hr = node->get_firstChild(child.Receive());
  return child;
}

ComPtr<IXMLDOMNode> NextSibling(IXMLDOMNode* node, HRESULT* hr) {
  ComPtr<IXMLDOMNode> next;
  *hr = node->get_nextSibling(next.Receive());
  return next;
}

// An owned VARIANT holding a reference to |object| (for load, save and
// insertBefore, which take an object as a VARIANT).
ScopedVariant ObjectVariant(IUnknown* object) {
  VARIANT view;
  ::VariantInit(&view);
  view.vt = VT_UNKNOWN;
  view.punkVal = object;
  return ScopedVariant::Copy(view);  // adds the reference the holder owns
}

// An owned VARIANT holding a byte array with a copy of |bytes|. The parser
// reads such an array in one piece; reading the same bytes from a stream
// takes time that grows faster than the size in some implementations.
ScopedVariant ByteArrayVariant(std::string_view bytes) {
  ScopedVariant result;
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  if (!array) {
    LOG(ERROR) << "Cannot allocate " << bytes.size() << " bytes for the XML document";
    return result;
  }
  VARIANT held;
  ::VariantInit(&held);
  held.vt = VT_ARRAY | VT_UI1;
  held.parray = array;
  result.Take(&held);  // owns the array from here on
  void* data = nullptr;
  const HRESULT hr = ::SafeArrayAccessData(array, &data);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot fill the byte array of the XML document";
    return ScopedVariant();
  }
  memcpy(data, bytes.data(), bytes.size());
  ::SafeArrayUnaccessData(array);
  return result;
}

ComPtr<IStream> NewMemoryStream(const BYTE* data, UINT size) {
  ComPtr<IStream> stream(::SHCreateMemStream(data, size));
  if (!stream.IsValid())
    LOG(ERROR) << "Cannot create a memory stream of " << size << " bytes";
  return stream;
}

// XML 1.0 cannot carry C0 control characters (except tab, line feed and
// carriage return), U+FFFE, U+FFFF or unpaired surrogates; a carriage return
// would come back as a line feed, and in attributes tab and line feed come
// back as blanks. Such text is refused rather than saved in a form that does
// not read back.
bool IsStorableText(std::wstring_view text, bool in_attribute) {
  for (size_t i = 0; i < text.size(); ++i) {
    wchar_t c = text[i];
    if (c < 0x20) {
      if (in_attribute || (c != L'\t' && c != L'\n'))
        return false;
    } else if (c == 0xFFFE || c == 0xFFFF) {
      return false;
    } else if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
        return false;
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
  }
  return true;
}

void LogParseError(IXMLDOMDocument* document) {
  ComPtr<IXMLDOMParseError> error;
  HRESULT hr = document->get_parseError(error.Receive());
  if (FAILED(hr) || !error.IsValid()) {
    LOG(ERROR) << "The XML document did not load (no parser report)";
    return;
  }
  long code = 0;
  long line = 0;
  long column = 0;
  ScopedBstr reason;
  error->get_errorCode(&code);
  error->get_line(&line);
  error->get_linepos(&column);
  error->get_reason(reason.Receive());
  std::string text = base::WideToUTF8(reason.view());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  LOG(ERROR) << "The XML document did not load: line " << line << ", column " << column << ": "
             << text << " (0x" << std::hex << static_cast<unsigned long>(code) << ")";
}

// Writes |bytes| to a new temporary file beside |path|, flushes it and moves
// it over |path|. The temporary is removed on failure.
bool ReplaceFileContents(const base::FilePath& path, const std::string& bytes) {
  if (bytes.size() > static_cast<size_t>(INT_MAX)) {
    LOG(ERROR) << "Document too large to save: " << bytes.size() << " bytes";
    return false;
  }
  base::FilePath folder = path.DirName();
  base::FilePath temporary;
  if (!base::CreateTemporaryFileInDirectory(folder, &temporary)) {
    LOG(ERROR) << "Cannot create a temporary file in " << folder << " to save " << path;
    return false;
  }
  bool written = false;
  {
    base::File file(temporary, base::File::FLAG_OPEN_TRUNCATED | base::File::FLAG_WRITE |
                                   base::File::FLAG_EXCLUSIVE_READ |
                                   base::File::FLAG_EXCLUSIVE_WRITE);
    if (!file.IsValid()) {
      ELOG(ERROR, file.error_details()) << "Cannot open " << temporary;
    } else if (file.Write(0, bytes.data(), static_cast<int>(bytes.size())) !=
               static_cast<int>(bytes.size())) {
      LOG(ERROR) << "Cannot write " << temporary;
    } else if (!file.Flush()) {
      LOG(ERROR) << "Cannot flush " << temporary;
    } else {
      written = true;
    }
  }  // closed before the move
  if (written && !::MoveFileExW(temporary.c_str(), path.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    PLOG(ERROR) << "Cannot move " << temporary << " to " << path;
    written = false;
  }
  if (!written && !base::DeletePath(temporary, false))
    LOG(ERROR) << "Cannot remove the temporary file " << temporary;
  return written;
}

}  // namespace

XmlDocument::XmlDocument() = default;
XmlDocument::~XmlDocument() = default;

bool XmlDocument::NewDocument() {
  document_.Reset();
  HRESULT hr =
      document_.CreateInstance(CLSID_DOMDocument30, IID_IXMLDOMDocument, CLSCTX_INPROC_SERVER);
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot create an MSXML 3.0 DOM document";
    document_.Reset();
    return false;
  }
  // Synchronous, no DTD validation, no fetching of external resources, and
  // text kept exactly as written.
  if (FAILED(hr = document_->put_async(VARIANT_FALSE)) ||
      FAILED(hr = document_->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(hr = document_->put_resolveExternals(VARIANT_FALSE)) ||
      FAILED(hr = document_->put_preserveWhiteSpace(VARIANT_TRUE))) {
    ELOG(ERROR, hr) << "Cannot set the parsing options of the XML document";
    document_.Reset();
    return false;
  }
  return true;
}

bool XmlDocument::Create() {
  if (!NewDocument())
    return false;
  ComPtr<IXMLDOMProcessingInstruction> declaration;
  HRESULT hr = document_->createProcessingInstruction(
      ScopedBstr(L"xml").Get(), ScopedBstr(L"version=\"1.0\" encoding=\"UTF-8\"").Get(),
      declaration.Receive());
  ComPtr<IXMLDOMNode> added;
  if (SUCCEEDED(hr))
    hr = document_->appendChild(declaration.Get(), added.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot add the XML declaration";
    document_.Reset();
    return false;
  }
  return true;
}

bool XmlDocument::LoadFromFile(const base::FilePath& path) {
  std::string bytes;
  if (!base::ReadFileToString(path, &bytes)) {
    document_.Reset();
    LOG(ERROR) << "Cannot read the XML file " << path;
    return false;
  }
  if (!LoadFromBytes(bytes)) {
    LOG(ERROR) << "Not a valid XML file: " << path;
    return false;
  }
  return true;
}

bool XmlDocument::LoadFromBytes(std::string_view bytes) {
  document_.Reset();
  if (bytes.empty()) {
    LOG(ERROR) << "The XML document is empty";
    return false;
  }
  if (bytes.size() > kMaxDocumentBytes) {
    LOG(ERROR) << "The XML document is too large: " << bytes.size() << " bytes";
    return false;
  }
  // A document type declaration can define entities, whose expansion a
  // small file can make huge; none of our files has one. Refused before the
  // parser sees it where it can be seen in the bytes, and by the parsed
  // document's doctype below whatever the encoding.
  if (bytes.find("<!DOCTYPE") != std::string_view::npos) {
    LOG(ERROR) << "The XML document has a document type declaration; refused";
    return false;
  }
  ScopedVariant source = ByteArrayVariant(bytes);
  if (source.type() != (VT_ARRAY | VT_UI1) || !NewDocument())
    return false;  // logged where it failed
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = document_->load(source.value(), &loaded);
  if (hr != S_OK || loaded != VARIANT_TRUE) {
    LogParseError(document_.Get());
    document_.Reset();
    return false;
  }
  ComPtr<IXMLDOMDocumentType> doctype;
  hr = document_->get_doctype(doctype.Receive());
  if (FAILED(hr) || doctype.IsValid()) {
    LOG(ERROR) << "The XML document has a document type declaration; refused";
    document_.Reset();
    return false;
  }
  return CheckElementCount();
}

bool XmlDocument::CheckElementCount() {
  // Counted by the parser's own node list, in one pass.
  ComPtr<IXMLDOMNodeList> elements;
  long count = 0;
  HRESULT hr = document_->getElementsByTagName(ScopedBstr(L"*").Get(), elements.Receive());
  if (SUCCEEDED(hr) && elements.IsValid())
    hr = elements->get_length(&count);
  if (FAILED(hr) || !elements.IsValid()) {
    ELOG(ERROR, FAILED(hr) ? hr : E_FAIL) << "Cannot count the elements of the XML document";
    document_.Reset();
    return false;
  }
  if (static_cast<unsigned long>(count) > kMaxElements) {
    LOG(ERROR) << "The XML document has " << count << " elements, more than " << kMaxElements
               << "; refused";
    document_.Reset();
    return false;
  }
  return true;
}

bool XmlDocument::SaveToBytes(std::string* bytes) const {
  if (!document_.IsValid()) {
    LOG(ERROR) << "No XML document to save";
    return false;
  }
  ComPtr<IStream> stream = NewMemoryStream(nullptr, 0);
  if (!stream.IsValid())
    return false;
  ScopedVariant target = ObjectVariant(stream.Get());
  if (target.type() != VT_UNKNOWN)
    return false;  // logged by the copy
  HRESULT hr = document_->save(target.value());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot serialise the XML document";
    return false;
  }
  LARGE_INTEGER zero = {};
  ULARGE_INTEGER size = {};
  hr = stream->Seek(zero, STREAM_SEEK_END, &size);
  if (SUCCEEDED(hr) && size.QuadPart > kMaxDocumentBytes)
    hr = E_OUTOFMEMORY;
  if (SUCCEEDED(hr))
    hr = stream->Seek(zero, STREAM_SEEK_SET, nullptr);
  std::string result(static_cast<size_t>(size.QuadPart), '\0');
  ULONG read = 0;
  if (SUCCEEDED(hr) && !result.empty())
    hr = stream->Read(result.data(), static_cast<ULONG>(result.size()), &read);
  if (FAILED(hr) || read != result.size()) {
    ELOG(ERROR, FAILED(hr) ? hr : E_FAIL) << "Cannot read the serialised XML document";
    return false;
  }
  *bytes = std::move(result);
  return true;
}

bool XmlDocument::SaveToFile(const base::FilePath& path) const {
  std::string bytes;
  if (!SaveToBytes(&bytes))
    return false;
  return ReplaceFileContents(path, bytes);
}

XmlDocument::Element XmlDocument::GetRootElement() const {
  Element root;
  if (document_.IsValid())
    document_->get_documentElement(root.Receive());  // S_FALSE and null when none
  return root;
}

XmlDocument::Element XmlDocument::CreateRootElement(std::wstring_view name) {
  if (!document_.IsValid()) {
    LOG(ERROR) << "No XML document for the root element";
    return Element();
  }
  return CreateChildElement(document_.Get(), name);
}

XmlDocument::Element XmlDocument::AppendElement(IXMLDOMElement* parent, std::wstring_view name) {
  if (!document_.IsValid() || !parent) {
    LOG(ERROR) << "No XML document or parent for the element " << base::WideToUTF8(name);
    return Element();
  }
  return CreateChildElement(parent, name);
}

XmlDocument::Element XmlDocument::CreateChildElement(IXMLDOMNode* parent, std::wstring_view name) {
  Element element;
  HRESULT hr = document_->createElement(ScopedBstr(name).Get(), element.Receive());
  ComPtr<IXMLDOMNode> added;
  if (SUCCEEDED(hr))
    hr = parent->appendChild(element.Get(), added.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot append the element " << base::WideToUTF8(name);
    element.Reset();
  }
  return element;
}

XmlDocument::Element XmlDocument::AppendTextElement(IXMLDOMElement* parent, std::wstring_view name,
                                                    std::wstring_view text) {
  if (!IsStorableText(text, false)) {
    LOG(ERROR) << "The text of the element " << base::WideToUTF8(name)
               << " holds characters XML cannot carry";
    return Element();
  }
  Element element = AppendElement(parent, name);
  if (!element.IsValid() || text.empty())
    return element;
  ComPtr<IXMLDOMText> node;
  HRESULT hr = document_->createTextNode(ScopedBstr(text).Get(), node.Receive());
  ComPtr<IXMLDOMNode> added;
  if (SUCCEEDED(hr))
    hr = element->appendChild(node.Get(), added.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the text of the element " << base::WideToUTF8(name);
    element.Reset();
  }
  return element;
}

bool XmlDocument::Indent() {
  Element root = GetRootElement();
  if (!root.IsValid()) {
    LOG(ERROR) << "No root element to indent";
    return false;
  }
  return IndentChildren(root.Get(), 0);
}

bool XmlDocument::IndentChildren(IXMLDOMElement* element, int depth) {
  HRESULT hr = S_OK;
  std::vector<Element> children;
  for (ComPtr<IXMLDOMNode> node = FirstChild(element, &hr); SUCCEEDED(hr) && node.IsValid();
       node = NextSibling(node.Get(), &hr)) {
    DOMNodeType type = NODE_INVALID;
    hr = node->get_nodeType(&type);
    if (FAILED(hr))
      break;
    if (type == NODE_TEXT || type == NODE_CDATA_SECTION)
      return true;  // text content stays exactly as it is
    Element child;
    if (type == NODE_ELEMENT && SUCCEEDED(node.QueryInterface(IID_IXMLDOMElement, &child)))
      children.push_back(std::move(child));
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the child nodes of an element";
    return false;
  }
  if (children.empty())
    return true;
  auto insert_break = [this](IXMLDOMElement* parent, IXMLDOMNode* before, int level) {
    ComPtr<IXMLDOMText> text;
    std::wstring blanks = L"\n" + std::wstring(static_cast<size_t>(level) * 2, L' ');
    HRESULT result = document_->createTextNode(ScopedBstr(blanks).Get(), text.Receive());
    ComPtr<IXMLDOMNode> added;
    if (SUCCEEDED(result) && before) {
      ScopedVariant where = ObjectVariant(before);
      result = where.type() == VT_UNKNOWN
                   ? parent->insertBefore(text.Get(), where.value(), added.Receive())
                   : E_OUTOFMEMORY;
    } else if (SUCCEEDED(result)) {
      result = parent->appendChild(text.Get(), added.Receive());
    }
    if (FAILED(result))
      ELOG(ERROR, result) << "Cannot insert indentation";
    return SUCCEEDED(result);
  };
  for (const Element& child : children) {
    if (!insert_break(element, child.Get(), depth + 1) || !IndentChildren(child.Get(), depth + 1))
      return false;
  }
  return insert_break(element, nullptr, depth);
}

// static
bool XmlDocument::SetAttribute(IXMLDOMElement* element, std::wstring_view name,
                               std::wstring_view value) {
  if (!IsStorableText(value, true)) {
    LOG(ERROR) << "The attribute " << base::WideToUTF8(name)
               << " holds characters an XML attribute cannot carry";
    return false;
  }
  ScopedVariant variant(value);
  if (variant.type() != VT_BSTR)
    return false;  // logged by the allocation
  HRESULT hr = element->setAttribute(ScopedBstr(name).Get(), variant.value());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot set the attribute " << base::WideToUTF8(name);
    return false;
  }
  return true;
}

// static
bool XmlDocument::GetAttribute(IXMLDOMElement* element, std::wstring_view name,
                               std::wstring* value) {
  ScopedVariant variant;
  HRESULT hr = element->getAttribute(ScopedBstr(name).Get(), variant.ReceiveVariant());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read the attribute " << base::WideToUTF8(name);
    return false;
  }
  if (hr != S_OK || variant.type() != VT_BSTR)
    return false;  // absent
  const VARIANT& held = variant.value();
  value->assign(held.bstrVal ? held.bstrVal : L"", held.bstrVal ? ::SysStringLen(held.bstrVal) : 0);
  return true;
}

// static
bool XmlDocument::GetName(IXMLDOMElement* element, std::wstring* name) {
  ScopedBstr tag;
  HRESULT hr = element->get_tagName(tag.Receive());
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read an element's name";
    return false;
  }
  name->assign(tag.view());
  return true;
}

// static
bool XmlDocument::GetText(IXMLDOMElement* element, std::wstring* text) {
  // The text nodes' own values: the DOM's "text" property may trim or
  // normalise whitespace, these never do.
  HRESULT hr = S_OK;
  std::wstring result;
  for (ComPtr<IXMLDOMNode> node = FirstChild(element, &hr); SUCCEEDED(hr) && node.IsValid();
       node = NextSibling(node.Get(), &hr)) {
    DOMNodeType type = NODE_INVALID;
    hr = node->get_nodeType(&type);
    if (FAILED(hr))
      break;
    // An entity reference left in the tree would read as nothing: the text
    // would silently lose a piece.
    if (type == NODE_ENTITY_REFERENCE) {
      LOG(ERROR) << "An element's text holds an entity reference; refused";
      return false;
    }
    if (type != NODE_TEXT && type != NODE_CDATA_SECTION)
      continue;
    ScopedVariant value;
    hr = node->get_nodeValue(value.ReceiveVariant());
    if (SUCCEEDED(hr) && value.type() == VT_BSTR && value.value().bstrVal)
      result.append(value.value().bstrVal, ::SysStringLen(value.value().bstrVal));
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot read an element's text";
    return false;
  }
  *text = std::move(result);
  return true;
}

// static
bool XmlDocument::GetChildElements(IXMLDOMElement* parent, std::vector<Element>* children) {
  HRESULT hr = S_OK;
  std::vector<Element> result;
  for (ComPtr<IXMLDOMNode> node = FirstChild(parent, &hr); SUCCEEDED(hr) && node.IsValid();
       node = NextSibling(node.Get(), &hr)) {
    DOMNodeType type = NODE_INVALID;
    hr = node->get_nodeType(&type);
    if (FAILED(hr))
      break;
    if (type != NODE_ELEMENT)
      continue;
    Element element;
    hr = node.QueryInterface(IID_IXMLDOMElement, &element);
    if (FAILED(hr))
      break;
    result.push_back(std::move(element));
  }
  if (FAILED(hr)) {
    ELOG(ERROR, hr) << "Cannot list an element's children";
    return false;
  }
  *children = std::move(result);
  return true;
}

}  // namespace installer
