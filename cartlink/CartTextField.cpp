#include "cartlink/CartTextField.h"
#include <algorithm>
#include <cwchar>
#include <vector>

namespace CartTextField
{
void Write(BYTE* field, int width, LPCWSTR text)
{
    const int length = text ? static_cast<int>(wcslen(text)) : 0;
    if (length == 0 || width <= 0)
        return;
    const int take = std::min(length, width);
    // A wide character may become two bytes in a double-byte code page: convert into a
    // buffer large enough for that, then keep only the bytes the field has room for.
    std::vector<char> converted(static_cast<size_t>(take) * 2 + 1, 0);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, take, converted.data(),
                                          static_cast<int>(converted.size()), nullptr, nullptr);
    ZeroMemory(field, static_cast<size_t>(width));
    CopyMemory(field, converted.data(), static_cast<size_t>(std::min({ take, width, std::max(bytes, 0) })));
}

CStringEx Read(const BYTE* field, int length, int capacity)
{
    const int limit = std::max(0, std::min(length, capacity));
    int end = 0;
    while (end < limit && field[end] != 0)
        ++end;
    if (end == 0)
        return CStringEx();
    const char* bytes = reinterpret_cast<const char*>(field);
    const int chars = MultiByteToWideChar(CP_ACP, 0, bytes, end, nullptr, 0);
    CStringEx text;
    if (chars > 0)
    {
        MultiByteToWideChar(CP_ACP, 0, bytes, end, text.GetBuffer(chars), chars);
        text.ReleaseBuffer(chars);
    }
    return text;
}
}
