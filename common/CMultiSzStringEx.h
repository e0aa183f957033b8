#pragma once
#include "common/CObjectEx.h"

// A double-NUL-terminated list of wide strings, laid out like a registry multi-string.
// The buffer grows by doubling, starting at one character.
class CMultiSzStringEx
{
public:
    static constexpr SIZE_T kMaxChars = 0x3FFFFFFF;

    CMultiSzStringEx() noexcept = default;
    ~CMultiSzStringEx();
    CMultiSzStringEx(const CMultiSzStringEx&) = delete;
    CMultiSzStringEx& operator=(const CMultiSzStringEx&) = delete;

    // Appends one string; length -1 takes the text up to its NUL, 0 adds nothing. Returns
    // FALSE, leaving the list unchanged, when the buffer cannot grow.
    BOOL Add(LPCWSTR text, int length = -1);

    // The characters of the list (null while empty) and how many there are.
    const wchar_t* GetData() const noexcept { return m_chars; }
    SIZE_T GetLength() const noexcept { return m_length; }
    DWORD GetCount() const noexcept { return m_count; }

private:
    BOOL Reserve(SIZE_T chars);

    wchar_t* m_chars = nullptr;
    SIZE_T m_length = 0;
    SIZE_T m_capacity = 0;
    DWORD m_count = 0;
};
