#include "agent/CKelvoAuthRules.h"
#include "cartlink/CartTextField.h"
#include "cartlink/KelvoCartCommand.h"
#include "resources/KVIdsAgentAuth.h"
#include <cwchar>

namespace KelvoAuthRules
{
void SplitPrincipal(const CStringEx& principal, CStringEx& user, CStringEx& domain)
{
    const int at = principal.Find(L'@');
    if (at < 0)
    {
        user = principal;
        domain.Empty();
        return;
    }
    user = principal.Left(at);
    domain = principal.Mid(at + 1);
}

UINT MethodNameId(BYTE value)
{
    static const UINT names[] = {IDS_AUTH_METHOD_0, IDS_AUTH_METHOD_1, IDS_AUTH_METHOD_2, IDS_AUTH_METHOD_3,
                                 IDS_AUTH_METHOD_4, IDS_AUTH_METHOD_5, IDS_AUTH_METHOD_6, IDS_AUTH_METHOD_7,
                                 IDS_AUTH_METHOD_8, IDS_AUTH_METHOD_9, IDS_AUTH_METHOD_10};
    return value < sizeof(names) / sizeof(names[0]) ? names[value] : 0;
}

BYTE MethodFlags(const std::vector<CStringEx>& items, std::vector<BYTE>* values)
{
    BYTE flags = 0;
    for (const CStringEx& item : items)
    {
        // A text that is no number reads as 0, as the decimal conversion gives it.
        const BYTE value = static_cast<BYTE>(wcstol(item, nullptr, 10) & 0xFF);
        if (values)
            values->push_back(value);
        flags = static_cast<BYTE>(flags | value);
    }
    return flags;
}

BYTE AccessMode(BYTE flags)
{
    if (flags & 0x01)
        return 2;
    if (flags & 0x02)
        return 1;
    return 0;
}

CStringEx AsCartStoresName(LPCWSTR computerName)
{
    BYTE field[KELVO_COMPUTER_NAME_WIDTH] = {};
    CartTextField::Write(field, KELVO_COMPUTER_NAME_WIDTH, computerName ? computerName : L"");
    return CartTextField::Read(field, KELVO_COMPUTER_NAME_WIDTH, KELVO_COMPUTER_NAME_WIDTH);
}

bool IsBoundTo(const CStringEx& boundName, LPCWSTR computerName)
{
    if (boundName.IsEmpty())
        return false;
    const CStringEx stored = AsCartStoresName(computerName);
    return CompareStringOrdinal(boundName, boundName.GetLength(), stored, stored.GetLength(), TRUE) == CSTR_EQUAL;
}
}
