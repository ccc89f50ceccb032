#pragma once

#include <windows.h>
#include <msxml2.h>

// The platform headers declare these identifiers; no import library of the
// cross toolchain defines them, so SaxReaderClass.cpp does.
//   CLSID_SAXXMLReader {079AA557-4A18-424A-8EEE-E39F0A8D41B9}
//   IID_ISAXXMLReader  {A4F96ED0-F829-476E-81C0-CDC7BD2A0802}
