#include "soap/StreamImpl.h"

HRESULT STDMETHODCALLTYPE CStreamImpl::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
    {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) ||
        IsEqualIID(iid, IID_ISequentialStream))
    {
        // Single inheritance: one pointer serves all three interfaces.
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CStreamImpl::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_referenceCount));
}

ULONG STDMETHODCALLTYPE CStreamImpl::Release()
{
    const LONG count = InterlockedDecrement(&m_referenceCount);
    if (count == 0)
    {
        delete this;
    }
    return static_cast<ULONG>(count);
}

// The refused operations leave every out-parameter as the caller set it.

HRESULT STDMETHODCALLTYPE CStreamImpl::Write(const void* /* buffer */, ULONG /* count */,
                                             ULONG* /* written */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::Seek(LARGE_INTEGER /* move */, DWORD /* origin */,
                                            ULARGE_INTEGER* /* newPosition */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::SetSize(ULARGE_INTEGER /* newSize */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::CopyTo(IStream* /* target */, ULARGE_INTEGER /* count */,
                                              ULARGE_INTEGER* /* read */,
                                              ULARGE_INTEGER* /* written */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::Commit(DWORD /* flags */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::Revert()
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::LockRegion(ULARGE_INTEGER /* offset */,
                                                  ULARGE_INTEGER /* count */, DWORD /* lockType */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::UnlockRegion(ULARGE_INTEGER /* offset */,
                                                    ULARGE_INTEGER /* count */,
                                                    DWORD /* lockType */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::Stat(STATSTG* /* status */, DWORD /* flags */)
{
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CStreamImpl::Clone(IStream** /* clone */)
{
    return E_NOTIMPL;
}
