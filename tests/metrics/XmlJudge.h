#pragma once

#include "common/ComOwner.h"

#include <windows.h>
#include <msxml2.h>

#include <string>
#include <vector>

// The platform's XML DOM (MSXML 3) as the judge of request bodies: what it
// loads is well-formed XML, and the texts it gives back have been unescaped
// by a real parser, not by our own reading of the rules.
class CXmlJudge
{
public:
    // Creates the DOM document; the thread must be in a COM apartment.
    HRESULT Create();

    // Loads a body as the service receives it: UTF-8 bytes without an XML
    // declaration, white space kept. False when it is not well formed;
    // `reason` then holds the parser's explanation.
    bool Load(const std::string& body, std::wstring& reason);

    // The document element of the last body loaded.
    CComOwner<IXMLDOMNode> Root() const;

private:
    CComOwner<IXMLDOMDocument> m_document;
};

// The element children of a node, in document order.
std::vector<CComOwner<IXMLDOMNode>> ChildElements(IXMLDOMNode* node);

// The qualified name of a node, and its namespace URI.
std::wstring NodeName(IXMLDOMNode* node);
std::wstring NamespaceUri(IXMLDOMNode* node);

// The character content of an element: its text children joined, exactly as
// the parser delivered them. `onlyText` is false when it has children of any
// other kind.
std::wstring CharacterContent(IXMLDOMNode* node, bool& onlyText);
