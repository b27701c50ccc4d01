#include "desktop/windows/installer/service/msxml_ids.h"

// Each declaration in <msxml2.h> is EXTERN_C, so these definitions have C
// linkage and external visibility.
extern "C" {

const CLSID CLSID_DOMDocument30 = {0xf5078f32,
                                   0xc551,
                                   0x11d3,
                                   {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
const CLSID CLSID_FreeThreadedDOMDocument30 = {0xf5078f33,
                                               0xc551,
                                               0x11d3,
                                               {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};
const CLSID CLSID_MXXMLWriter30 = {0x3d813dfe,
                                   0x6c91,
                                   0x4a4e,
                                   {0x8f, 0x41, 0x04, 0x34, 0x6a, 0x84, 0x1d, 0x9c}};
const CLSID CLSID_SAXXMLReader30 = {0x3124c396,
                                    0xfb13,
                                    0x4836,
                                    {0xa6, 0xad, 0x13, 0x17, 0xf1, 0x71, 0x36, 0x88}};

const IID IID_IXMLDOMDocument2 = {0x2933bf95,
                                  0x7b36,
                                  0x11d2,
                                  {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};
const IID IID_IMXWriter = {0x4d7ff4ba,
                           0x1565,
                           0x4ea8,
                           {0x94, 0xe1, 0x6e, 0x72, 0x4a, 0x46, 0xf9, 0x8d}};

}  // extern "C"
