// The MSXML 3.0 class and interface ids.
//
// <msxml2.h> declares them, but mingw-w64's import libraries (libuuid) carry
// only the version-independent DOM ids. msxml_ids.cc defines the missing ones,
// once for the whole program, under the names the header declares, so code
// uses them exactly as the Windows SDK would have it. Interfaces declared in
// <msxml2.h> have no __uuidof in mingw-w64: always name the IID explicitly.
#ifndef DESKTOP_WINDOWS_INSTALLER_SERVICE_MSXML_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_SERVICE_MSXML_IDS_H_

#include <windows.h>

#include <msxml2.h>

// Defined in msxml_ids.cc (declared by <msxml2.h>):
//   CLSID_DOMDocument30, CLSID_FreeThreadedDOMDocument30, CLSID_MXXMLWriter30,
//   CLSID_SAXXMLReader30, IID_IXMLDOMDocument2, IID_IMXWriter.
// From libuuid: IID_IXMLDOMDocument, IID_IXMLDOMElement, IID_IXMLDOMNode and
// the other version-independent DOM interfaces.

#endif  // DESKTOP_WINDOWS_INSTALLER_SERVICE_MSXML_IDS_H_
