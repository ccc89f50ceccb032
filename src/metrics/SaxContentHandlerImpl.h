#pragma once

#include <windows.h>
#include <msxml2.h>

// A SAX content handler that accepts every event. It keeps no reference count:
// it lives exactly as long as the object that contains it, so AddRef and
// Release count nothing and QueryInterface hands out nothing.
class ISAXContentHandlerImpl : public ISAXContentHandler
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID /* riid */, void** object) override
    {
        if (object != nullptr)
        {
            *object = nullptr;
        }
        return E_NOTIMPL;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE putDocumentLocator(ISAXLocator* /* locator */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE startDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE endDocument() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE startPrefixMapping(const wchar_t* /* prefix */,
                                                 int /* prefixLength */, const wchar_t* /* uri */,
                                                 int /* uriLength */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE endPrefixMapping(const wchar_t* /* prefix */,
                                               int /* prefixLength */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE startElement(const wchar_t* /* namespaceUri */,
                                           int /* namespaceUriLength */,
                                           const wchar_t* /* localName */,
                                           int /* localNameLength */,
                                           const wchar_t* /* qualifiedName */,
                                           int /* qualifiedNameLength */,
                                           ISAXAttributes* /* attributes */) override
    {
        return S_OK;
    }
    // endElement stays pure: a handler says what an element's end means to it.
    HRESULT STDMETHODCALLTYPE characters(const wchar_t* /* chars */, int /* length */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ignorableWhitespace(const wchar_t* /* chars */,
                                                  int /* length */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE processingInstruction(const wchar_t* /* target */,
                                                    int /* targetLength */,
                                                    const wchar_t* /* data */,
                                                    int /* dataLength */) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE skippedEntity(const wchar_t* /* name */, int /* length */) override
    {
        return S_OK;
    }

protected:
    ~ISAXContentHandlerImpl() = default;
};
