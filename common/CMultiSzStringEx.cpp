#include "common/CMultiSzStringEx.h"
#include <cstdlib>
#include <cwchar>

CMultiSzStringEx::~CMultiSzStringEx()
{
    free(m_chars);
}

BOOL CMultiSzStringEx::Reserve(SIZE_T chars)
{
    if (chars > kMaxChars)
        return FALSE;
    if (chars <= m_capacity)
        return TRUE;
    SIZE_T capacity = m_capacity ? m_capacity : 1;
    while (capacity < chars)
        capacity *= 2;
    if (capacity > kMaxChars)
        capacity = kMaxChars;
    auto* grown = static_cast<wchar_t*>(realloc(m_chars, capacity * sizeof(wchar_t)));
    if (grown == nullptr)
        return FALSE;
    m_chars = grown;
    m_capacity = capacity;
    return TRUE;
}

BOOL CMultiSzStringEx::Add(LPCWSTR text, int length)
{
    if (text == nullptr || length == 0)
        return length == 0;
    const SIZE_T count = length < 0 ? wcslen(text) : static_cast<SIZE_T>(length);
    if (count == 0)
        return TRUE;
    if (count > kMaxChars)
        return FALSE;

    // The list terminator of a non-empty list is replaced by the new string.
    const SIZE_T start = m_length ? m_length - 1 : 0;
    if (!Reserve(start + count + 2))
        return FALSE;
    wmemcpy(m_chars + start, text, count);
    m_chars[start + count] = L'\0';
    m_chars[start + count + 1] = L'\0';
    m_length = start + count + 2;
    ++m_count;
    return TRUE;
}
