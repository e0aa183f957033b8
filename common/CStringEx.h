#pragma once
#include <windows.h>
#include <oleauto.h>
#include <cstdarg>
#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>

// The library's wide string: a std::wstring plus a cached BSTR copy made on demand for
// COM calls. The cache belongs to the string; callees never free it, and it is dropped
// whenever the text changes or the string is destroyed.
template <typename XCHAR = wchar_t, typename TBase = std::basic_string<XCHAR>>
class CStringExT
{
public:
    CStringExT() = default;
    CStringExT(const XCHAR* text) : m_text(text ? text : L"") {}
    CStringExT(const XCHAR* text, int length) : m_text(text ? TBase(text, length < 0 ? 0 : length) : TBase()) {}
    CStringExT(const TBase& text) : m_text(text) {}
    CStringExT(TBase&& text) noexcept : m_text(std::move(text)) {}
    CStringExT(const CStringExT& other) : m_text(other.m_text) {}
    CStringExT(CStringExT&& other) noexcept : m_text(std::move(other.m_text)) { other.Changed(); }
    ~CStringExT() { Changed(); }

    CStringExT& operator=(const CStringExT& other)
    {
        if (this != &other)
        {
            m_text = other.m_text;
            Changed();
        }
        return *this;
    }
    CStringExT& operator=(CStringExT&& other) noexcept
    {
        if (this != &other)
        {
            m_text = std::move(other.m_text);
            other.Changed();
            Changed();
        }
        return *this;
    }
    CStringExT& operator=(const XCHAR* text) { m_text = text ? text : L""; Changed(); return *this; }
    CStringExT& operator=(const TBase& text) { m_text = text; Changed(); return *this; }

    operator const XCHAR*() const noexcept { return m_text.c_str(); }
    const XCHAR* GetString() const noexcept { return m_text.c_str(); }
    const TBase& Str() const noexcept { return m_text; }
    int GetLength() const noexcept { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const noexcept { return m_text.empty(); }
    void Empty() { m_text.clear(); Changed(); }
    XCHAR GetAt(int index) const { return m_text.at(static_cast<size_t>(index)); }

    // printf-style formatting with the Windows runtime's rules (%s takes a wide string).
    void Format(const XCHAR* format, ...)
    {
        va_list args;
        va_start(args, format);
        FormatV(format, args);
        va_end(args);
    }
    void FormatV(const XCHAR* format, va_list args)
    {
        m_text = FormatText(format, args);
        Changed();
    }
    void AppendFormat(const XCHAR* format, ...)
    {
        va_list args;
        va_start(args, format);
        m_text += FormatText(format, args);
        va_end(args);
        Changed();
    }
    CStringExT& operator+=(const XCHAR* text) { m_text += text ? text : L""; Changed(); return *this; }
    CStringExT& operator+=(const CStringExT& text) { m_text += text.m_text; Changed(); return *this; }
    CStringExT& operator+=(XCHAR ch) { m_text += ch; Changed(); return *this; }

    CStringExT Left(int count) const { return CStringExT(m_text.substr(0, Clamp(count))); }
    CStringExT Mid(int first) const { return CStringExT(m_text.substr(Clamp(first))); }
    CStringExT Mid(int first, int count) const { return CStringExT(m_text.substr(Clamp(first), Clamp(count))); }
    CStringExT Right(int count) const
    {
        const size_t n = Clamp(count);
        return CStringExT(m_text.substr(m_text.size() - n));
    }
    // Index of the first occurrence at or after start, or -1.
    int Find(const XCHAR* what, int start = 0) const { return ToIndex(m_text.find(what, Clamp(start))); }
    int Find(XCHAR what, int start = 0) const { return ToIndex(m_text.find(what, Clamp(start))); }
    int ReverseFind(XCHAR what) const { return ToIndex(m_text.rfind(what)); }

    CStringExT& Trim() { return TrimRight().TrimLeft(); }
    CStringExT& TrimLeft()
    {
        size_t i = 0;
        while (i < m_text.size() && iswspace(m_text[i]))
            ++i;
        m_text.erase(0, i);
        Changed();
        return *this;
    }
    CStringExT& TrimRight()
    {
        size_t n = m_text.size();
        while (n > 0 && iswspace(m_text[n - 1]))
            --n;
        m_text.resize(n);
        Changed();
        return *this;
    }
    CStringExT& MakeLower() { CharLowerBuffW(Data(), static_cast<DWORD>(m_text.size())); return *this; }
    CStringExT& MakeUpper() { CharUpperBuffW(Data(), static_cast<DWORD>(m_text.size())); return *this; }
    int Compare(const XCHAR* other) const { return wcscmp(m_text.c_str(), other ? other : L""); }
    int CompareNoCase(const XCHAR* other) const { return _wcsicmp(m_text.c_str(), other ? other : L""); }
    bool operator==(const XCHAR* other) const { return Compare(other) == 0; }
    bool operator!=(const XCHAR* other) const { return Compare(other) != 0; }
    bool operator==(const CStringExT& other) const { return m_text == other.m_text; }
    bool operator!=(const CStringExT& other) const { return m_text != other.m_text; }
    bool operator<(const CStringExT& other) const { return m_text < other.m_text; }

    // A writable buffer of at least minLength characters for an API to fill; call
    // ReleaseBuffer afterwards (-1: the text ends at the first NUL).
    XCHAR* GetBuffer(int minLength)
    {
        if (minLength > GetLength())
            m_text.resize(static_cast<size_t>(minLength));
        Changed();
        return Data();
    }
    void ReleaseBuffer(int length = -1)
    {
        if (length < 0)
            length = static_cast<int>(wcsnlen(m_text.c_str(), m_text.size()));
        m_text.resize(Clamp(length));
        Changed();
    }

    // The cached BSTR copy, for passing to COM as an [in] argument. Owned by this string.
    BSTR GetBSTR() const
    {
        if (m_bstr == nullptr)
            m_bstr = SysAllocStringLen(m_text.data(), static_cast<UINT>(m_text.size()));
        return m_bstr;
    }

private:
    static TBase FormatText(const XCHAR* format, va_list args)
    {
        if (format == nullptr)
            return TBase();
        va_list count;
        va_copy(count, args);
        const int needed = _vscwprintf(format, count);
        va_end(count);
        if (needed <= 0)
            return TBase();
        TBase out(static_cast<size_t>(needed) + 1, XCHAR());
        _vsnwprintf(&out[0], out.size(), format, args);
        out.resize(static_cast<size_t>(needed));
        return out;
    }
    size_t Clamp(int n) const noexcept
    {
        if (n < 0)
            return 0;
        return static_cast<size_t>(n) > m_text.size() ? m_text.size() : static_cast<size_t>(n);
    }
    static int ToIndex(size_t pos) noexcept { return pos == TBase::npos ? -1 : static_cast<int>(pos); }
    XCHAR* Data() { Changed(); return m_text.empty() ? &m_empty : &m_text[0]; }
    void Changed() const noexcept
    {
        if (m_bstr)
        {
            SysFreeString(m_bstr);
            m_bstr = nullptr;
        }
    }

    TBase m_text;
    mutable BSTR m_bstr = nullptr;
    XCHAR m_empty = XCHAR();
};

using CStringEx = CStringExT<wchar_t, std::wstring>;
