#pragma once
#include "common/CObjectEx.h"
#include <type_traits>
#include <utility>

// Owning pointer to a CObjectEx-derived object: copying takes a reference, destruction
// drops one. Its destructor is virtual so the pointer can itself be embedded in objects
// that are destroyed polymorphically.
template <class T>
class _CObjectExPtr
{
public:
    _CObjectExPtr() noexcept = default;
    _CObjectExPtr(std::nullptr_t) noexcept {}
    _CObjectExPtr(T* object) noexcept : m_p(object) { if (m_p) m_p->AddRef(); }
    _CObjectExPtr(const _CObjectExPtr& other) noexcept : _CObjectExPtr(other.m_p) {}
    _CObjectExPtr(_CObjectExPtr&& other) noexcept : m_p(other.Detach()) {}
    // Up-casts only; a down-cast goes through CObjectExQIPtr, which checks the type.
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    _CObjectExPtr(const _CObjectExPtr<U>& other) noexcept : _CObjectExPtr(other.Get()) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    _CObjectExPtr(_CObjectExPtr<U>&& other) noexcept : m_p(other.Detach()) {}
    virtual ~_CObjectExPtr() { Reset(); }

    _CObjectExPtr& operator=(const _CObjectExPtr& other) noexcept { Assign(other.m_p); return *this; }
    _CObjectExPtr& operator=(_CObjectExPtr&& other) noexcept
    {
        if (this != &other)
            Replace(other.Detach());
        return *this;
    }
    _CObjectExPtr& operator=(T* object) noexcept { Assign(object); return *this; }
    _CObjectExPtr& operator=(std::nullptr_t) noexcept { Reset(); return *this; }

    T* Get() const noexcept { return m_p; }
    T* operator->() const noexcept { return m_p; }
    T& operator*() const noexcept { return *m_p; }
    explicit operator bool() const noexcept { return m_p != nullptr; }

    // Takes over a reference the caller already owns (for example one carried by a posted message).
    void Attach(T* object) noexcept { Replace(object); }
    // Gives up the reference without dropping it; the caller now owns it.
    T* Detach() noexcept { return std::exchange(m_p, nullptr); }
    void Reset() noexcept { Replace(nullptr); }

private:
    void Assign(T* object) noexcept
    {
        // Take the new reference first: the old target may be what keeps the new one alive.
        if (object)
            object->AddRef();
        Replace(object);
    }
    void Replace(T* object) noexcept
    {
        T* old = std::exchange(m_p, object);
        if (old)
            old->Release();
    }

    T* m_p = nullptr;
};

// Creates an object and hands over its first reference.
template <class T, class... Args>
_CObjectExPtr<T> MakeObjectEx(Args&&... args)
{
    return _CObjectExPtr<T>(new T(std::forward<Args>(args)...));
}

// Run-time checked down-cast from a generic object pointer. The source is consumed in
// every case: on success this pointer holds its own reference, on failure it is null and
// no extra reference remains.
template <class T, class TBase = CObjectEx>
class CObjectExQIPtr : public _CObjectExPtr<T>
{
public:
    CObjectExQIPtr() noexcept = default;
    CObjectExQIPtr(_CObjectExPtr<TBase>&& source) noexcept { Take(source); }
    CObjectExQIPtr(_CObjectExPtr<TBase>& source) noexcept { Take(source); }

private:
    void Take(_CObjectExPtr<TBase>& source) noexcept
    {
        if (T* cast = dynamic_cast<T*>(source.Get()))
            _CObjectExPtr<T>::operator=(cast);
        source.Reset();
    }
};
