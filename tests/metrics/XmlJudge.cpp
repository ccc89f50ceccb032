#include "XmlJudge.h"

#include "common/Owners.h"

#include <objbase.h>
#include <oleauto.h>

// Declared by the platform headers, defined by no import library of the cross
// toolchain: MSXML 3's DOM document, {F5078F32-C551-11D3-89B9-0000F81FE221}.
EXTERN_C const CLSID CLSID_DOMDocument30 = {
    0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};

namespace
{
// A VARIANT that is cleared when it goes.
class CVariant
{
public:
    CVariant() noexcept { VariantInit(&m_value); }
    ~CVariant() { VariantClear(&m_value); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    VARIANT* get() noexcept { return &m_value; }

private:
    VARIANT m_value;
};

std::wstring TakeText(const CUniqueBstr& text)
{
    return std::wstring(text.get(), SysStringLen(text.get()));
}
} // namespace

HRESULT CXmlJudge::Create()
{
    HRESULT result =
        CoCreateInstance(CLSID_DOMDocument30, /* pUnkOuter */ nullptr, CLSCTX_INPROC_SERVER,
                         IID_IXMLDOMDocument, m_document.put_void());
    if (FAILED(result))
    {
        return result;
    }
    // Synchronous, no DTD or external resources, and every space kept: the
    // values under test may consist of white space alone.
    result = m_document->put_async(VARIANT_FALSE);
    if (SUCCEEDED(result))
    {
        result = m_document->put_validateOnParse(VARIANT_FALSE);
    }
    if (SUCCEEDED(result))
    {
        result = m_document->put_resolveExternals(VARIANT_FALSE);
    }
    if (SUCCEEDED(result))
    {
        result = m_document->put_preserveWhiteSpace(VARIANT_TRUE);
    }
    return result;
}

bool CXmlJudge::Load(const std::string& body, std::wstring& reason)
{
    reason.clear();
    CComOwner<IStream> stream;
    HRESULT result = CreateStreamOnHGlobal(/* hGlobal */ nullptr, TRUE, stream.put());
    if (SUCCEEDED(result))
    {
        result = stream->Write(body.data(), static_cast<ULONG>(body.size()), nullptr);
    }
    if (SUCCEEDED(result))
    {
        LARGE_INTEGER start;
        start.QuadPart = 0;
        result = stream->Seek(start, STREAM_SEEK_SET, /* plibNewPosition */ nullptr);
    }
    if (FAILED(result))
    {
        reason = L"no stream for the body";
        return false;
    }
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    result = m_document->load(source, &loaded);
    if (result == S_OK && loaded == VARIANT_TRUE)
    {
        return true;
    }
    CComOwner<IXMLDOMParseError> error;
    CUniqueBstr text;
    long line = 0;
    long column = 0;
    if (SUCCEEDED(m_document->get_parseError(error.put())) && error)
    {
        error->get_reason(text.put());
        error->get_line(&line);
        error->get_linepos(&column);
    }
    reason = TakeText(text) + L" (line " + std::to_wstring(line) + L", column " +
             std::to_wstring(column) + L")";
    return false;
}

CComOwner<IXMLDOMNode> CXmlJudge::Root() const
{
    CComOwner<IXMLDOMElement> root;
    CComOwner<IXMLDOMNode> node;
    if (SUCCEEDED(m_document->get_documentElement(root.put())) && root)
    {
        root->QueryInterface(IID_IXMLDOMNode, node.put_void());
    }
    return node;
}

std::vector<CComOwner<IXMLDOMNode>> ChildElements(IXMLDOMNode* node)
{
    std::vector<CComOwner<IXMLDOMNode>> elements;
    CComOwner<IXMLDOMNode> child;
    node->get_firstChild(child.put());
    while (child)
    {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        CComOwner<IXMLDOMNode> next;
        child->get_nextSibling(next.put());
        if (type == NODE_ELEMENT)
        {
            elements.push_back(std::move(child));
        }
        child = std::move(next);
    }
    return elements;
}

std::wstring NodeName(IXMLDOMNode* node)
{
    CUniqueBstr name;
    node->get_nodeName(name.put());
    return TakeText(name);
}

std::wstring NamespaceUri(IXMLDOMNode* node)
{
    CUniqueBstr uri;
    node->get_namespaceURI(uri.put());
    return TakeText(uri);
}

std::wstring CharacterContent(IXMLDOMNode* node, bool& onlyText)
{
    std::wstring content;
    onlyText = true;
    CComOwner<IXMLDOMNode> child;
    node->get_firstChild(child.put());
    while (child)
    {
        DOMNodeType type = NODE_INVALID;
        child->get_nodeType(&type);
        if (type == NODE_TEXT)
        {
            CVariant value;
            if (SUCCEEDED(child->get_nodeValue(value.get())) && value.get()->vt == VT_BSTR)
            {
                content.append(value.get()->bstrVal, SysStringLen(value.get()->bstrVal));
            }
        }
        else
        {
            onlyText = false;
        }
        CComOwner<IXMLDOMNode> next;
        child->get_nextSibling(next.put());
        child = std::move(next);
    }
    return content;
}
