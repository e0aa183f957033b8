#pragma once
#include <windows.h>
#include <unknwn.h>
#include <oleauto.h>
#include <utility>

// Owning COM interface pointer: releases on destruction, AddRefs on copy.
template <class T>
class CComPtrEx
{
public:
    CComPtrEx() noexcept = default;
    CComPtrEx(std::nullptr_t) noexcept {}
    explicit CComPtrEx(T* p) noexcept : m_p(p) { if (m_p) m_p->AddRef(); }
    CComPtrEx(const CComPtrEx& other) noexcept : CComPtrEx(other.m_p) {}
    CComPtrEx(CComPtrEx&& other) noexcept : m_p(other.Detach()) {}
    ~CComPtrEx() { Reset(); }

    CComPtrEx& operator=(const CComPtrEx& other) noexcept
    {
        if (other.m_p)
            other.m_p->AddRef();
        Replace(other.m_p);
        return *this;
    }
    CComPtrEx& operator=(CComPtrEx&& other) noexcept
    {
        if (this != &other)
            Replace(other.Detach());
        return *this;
    }
    CComPtrEx& operator=(std::nullptr_t) noexcept { Reset(); return *this; }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }
    // For out-parameters: drops the current pointer and hands out the slot.
    T** Put() noexcept { Reset(); return &m_p; }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    void Attach(T* p) noexcept { Replace(p); }
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    void Reset() noexcept { Replace(nullptr); }

    template <class U>
    HRESULT QueryInterface(REFIID iid, CComPtrEx<U>& out) const noexcept
    {
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(iid, out.PutVoid());
    }

private:
    void Replace(T* p) noexcept
    {
        T* old = std::exchange(m_p, p);
        if (old)
            old->Release();
    }

    T* m_p = nullptr;
};

// Owning BSTR: freed on destruction.
class CBstrEx
{
public:
    CBstrEx() noexcept = default;
    explicit CBstrEx(LPCWSTR text) : m_bstr(text ? SysAllocString(text) : nullptr) {}
    CBstrEx(const CBstrEx&) = delete;
    CBstrEx& operator=(const CBstrEx&) = delete;
    CBstrEx(CBstrEx&& other) noexcept : m_bstr(other.Detach()) {}
    CBstrEx& operator=(CBstrEx&& other) noexcept
    {
        if (this != &other)
            Attach(other.Detach());
        return *this;
    }
    ~CBstrEx() { Reset(); }

    BSTR Get() const noexcept { return m_bstr; }
    // The text, never null (an empty BSTR may be a null pointer).
    LPCWSTR Text() const noexcept { return m_bstr ? m_bstr : L""; }
    UINT Length() const noexcept { return SysStringLen(m_bstr); }
    BSTR* Put() noexcept { Reset(); return &m_bstr; }
    void Attach(BSTR bstr) noexcept
    {
        if (m_bstr && m_bstr != bstr)
            SysFreeString(m_bstr);
        m_bstr = bstr;
    }
    BSTR Detach() noexcept { return std::exchange(m_bstr, nullptr); }
    void Reset() noexcept { Attach(nullptr); }

private:
    BSTR m_bstr = nullptr;
};

// Owning VARIANT: cleared on destruction.
class CVariantEx : public VARIANT
{
public:
    CVariantEx() noexcept { VariantInit(this); }
    ~CVariantEx() { VariantClear(this); }
    CVariantEx(const CVariantEx&) = delete;
    CVariantEx& operator=(const CVariantEx&) = delete;
    VARIANT* Put() noexcept { VariantClear(this); return this; }
};
