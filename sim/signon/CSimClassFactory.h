#pragma once
#include <windows.h>
#include <unknwn.h>

// Class object of one of the stand-in's classes.
class CSimClassFactory final : public IClassFactory
{
public:
    // Makes an object with its first reference, or answers why it cannot.
    using Creator = HRESULT (*)(IUnknown** object);

    explicit CSimClassFactory(Creator creator) noexcept;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

private:
    ~CSimClassFactory();

    LONG m_refCount = 0;
    Creator m_creator;
};
