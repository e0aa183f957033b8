#pragma once
#include <windows.h>
#include <unknwn.h>
#include <vector>

// A COM object of the stand-in whose interface is laid out by position, as the product
// documents it: IUnknown at 0 to 2, the four IDispatch functions at 3 to 6 and the
// product's methods from 7. Every position without a method answers E_NOTIMPL.
class CSimComObject
{
public:
    // What a client holds: the table pointer first, then the way back to the object.
    struct Face
    {
        void* const* table;
        CSimComObject* owner;
    };
    using Table = std::vector<void*>;

    IUnknown* GetInterface() noexcept { return reinterpret_cast<IUnknown*>(&m_face); }
    // Objects of the stand-in alive in this process, so that a client's leak shows.
    static LONG LiveCount() noexcept;
    ULONG AddRef() noexcept;
    ULONG Release() noexcept;

protected:
    CSimComObject(const Table& table, REFIID iid) noexcept;
    virtual ~CSimComObject();
    CSimComObject(const CSimComObject&) = delete;
    CSimComObject& operator=(const CSimComObject&) = delete;

    // A table of the given number of positions with IUnknown in place and E_NOTIMPL elsewhere.
    static Table MakeTable(UINT positions);
    template <class TFunction>
    static void* Entry(TFunction function) noexcept
    {
        return reinterpret_cast<void*>(function);
    }
    template <class TObject>
    static TObject* Self(Face* face) noexcept
    {
        return static_cast<TObject*>(face->owner);
    }

private:
    static HRESULT STDMETHODCALLTYPE QueryInterfaceEntry(Face* face, REFIID iid, void** object);
    static ULONG STDMETHODCALLTYPE AddRefEntry(Face* face);
    static ULONG STDMETHODCALLTYPE ReleaseEntry(Face* face);
    static HRESULT STDMETHODCALLTYPE NotImplementedEntry(Face* face);

    Face m_face;
    IID m_iid;
    LONG m_refCount = 0;
};
