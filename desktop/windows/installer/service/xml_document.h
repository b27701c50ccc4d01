// XmlDocument: the owner of one MSXML 3.0 DOM document (IXMLDOMDocument of
// CLSID_DOMDocument30), with the few operations the installer's XML files
// need: create, load from and save to a file, build elements, read names,
// attributes and text.
//
// COM must be initialised on the calling thread by the caller (the installer
// runs in a single-threaded apartment); the document belongs to that thread.
//
// Whitespace is preserved on load, so the text of an element reads back
// exactly as it was written. Documents are parsed without validation and
// without fetching external resources; a document with a document type
// declaration is refused, and so is one of more than kMaxElements elements.
// Reading walks the sibling links, so it takes time in proportion to the
// size of the document.
//
// Files go through memory, not through MSXML's own file access: MSXML takes a
// file name as a URL, where "#" and "%" in a folder name would change its
// meaning. Saving writes a temporary file beside the target, flushes it and
// then moves it over the target, so a crash mid-save leaves either the old
// file or the new one, never a truncated one.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_

#include <windows.h>

#include <msxml2.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/files/file_path.h"
#include "base/win/scoped_com.h"

namespace installer {

class XmlDocument {
 public:
  using Element = base::win::ComPtr<IXMLDOMElement>;

  // The most elements a loaded document may have: room for a million
  // entries of an install log and the elements around them.
  static constexpr unsigned long kMaxElements = 1000000 + 4096;

  XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;
  ~XmlDocument();

  // Replaces any held document by a new one holding only the declaration
  // <?xml version="1.0" encoding="UTF-8"?>. False when MSXML 3.0 cannot be
  // created (COM not initialised, component missing).
  bool Create();
  bool IsValid() const { return document_.IsValid(); }

  // Replaces any held document by the one parsed from |path|. False when the
  // file cannot be read, is empty, is not well-formed XML, has a document
  // type declaration or more than kMaxElements elements; the document is
  // then empty.
  bool LoadFromFile(const base::FilePath& path);
  // The same for a document in memory (bytes in the document's encoding).
  bool LoadFromBytes(std::string_view bytes);

  // Writes the document, replacing |path| atomically (see above). False, with
  // |path| untouched, on any failure.
  bool SaveToFile(const base::FilePath& path) const;
  // The document's bytes as MSXML writes them (UTF-8 by the declaration).
  bool SaveToBytes(std::string* bytes) const;

  // The root element, or an empty holder when there is none.
  Element GetRootElement() const;
  // Creates an element |name| and makes it the root (after the declaration).
  Element CreateRootElement(std::wstring_view name);
  // Creates an element |name| as the last child of |parent|.
  Element AppendElement(IXMLDOMElement* parent, std::wstring_view name);
  // The same, with |text| as its content.
  Element AppendTextElement(IXMLDOMElement* parent, std::wstring_view name, std::wstring_view text);

  // Inserts line breaks and two-blank indentation between elements that hold
  // only elements, so that the saved file reads well. Elements with text keep
  // their content untouched.
  bool Indent();

  // Element helpers; they need no document.
  static bool SetAttribute(IXMLDOMElement* element, std::wstring_view name,
                           std::wstring_view value);
  // False when the attribute is absent (not logged: absence is an answer) or
  // cannot be read (logged).
  static bool GetAttribute(IXMLDOMElement* element, std::wstring_view name, std::wstring* value);
  static bool GetName(IXMLDOMElement* element, std::wstring* name);
  // The concatenated text of the element's content. False (logged) when it
  // holds an entity reference, which would otherwise read as nothing.
  static bool GetText(IXMLDOMElement* element, std::wstring* text);
  // The child elements in document order (text, comments and processing
  // instructions skipped).
  static bool GetChildElements(IXMLDOMElement* parent, std::vector<Element>* children);

 private:
  // Creates an element and appends it to |parent| (the document or an element).
  Element CreateChildElement(IXMLDOMNode* parent, std::wstring_view name);

  bool NewDocument();
  // Refuses (and drops) a loaded document of more than kMaxElements
  // elements.
  bool CheckElementCount();
  bool IndentChildren(IXMLDOMElement* element, int depth);

  base::win::ComPtr<IXMLDOMDocument> document_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_XML_DOCUMENT_H_
