#pragma once

#include <windows.h>
#include <objidl.h>

// The common base of our COM streams: interface query and reference count,
// and E_NOTIMPL for every stream operation a derived stream does not supply.
// A stream lives with its owner, which holds the first reference; the count
// reaching zero deletes the stream through the virtual destructor, so a heap
// stream handed out and released runs its derived clean-up as well.
class CStreamImpl : public IStream
{
public:
    CStreamImpl(const CStreamImpl&) = delete;
    CStreamImpl& operator=(const CStreamImpl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // ISequentialStream: Read is left to each derived stream.
    HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* written) override;

    // IStream
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* newPosition) override;
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER newSize) override;
    HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                     ULARGE_INTEGER* written) override;
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Revert() override;
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                         DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count,
                                           DWORD lockType) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* status, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Clone(IStream** clone) override;

    // Follows the IStream slots in the table, which has no destructor of its own.
    virtual ~CStreamImpl() = default;

protected:
    CStreamImpl() noexcept = default;

private:
    LONG m_referenceCount = 1;
};
