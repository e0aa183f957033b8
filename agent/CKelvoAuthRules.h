#pragma once
#include "common/CStringEx.h"
#include <vector>

// The small rules the agent applies to a sign-in and to the cart's answers: who signed in,
// with which methods, in which access mode, and whether the cart's bound name is this
// computer's.
namespace KelvoAuthRules
{
// Splits a principal at its first at-sign: the part before is the user, the rest the
// domain. Without an at-sign the whole is the user and the domain is empty.
void SplitPrincipal(const CStringEx& principal, CStringEx& user, CStringEx& domain);

// The string ID naming an authentication-method value, or 0 for values without a name
// (11 and above).
UINT MethodNameId(BYTE value);

// The method flags of a sign-in: each item is read as a decimal number and its low byte is
// ORed in. `values` receives the low byte of every item, in order, for logging.
BYTE MethodFlags(const std::vector<CStringEx>& items, std::vector<BYTE>* values = nullptr);

// The access mode the cart is told: 2 when bit 0 of the flags is set, else 1 when bit 1
// is set, else 0.
BYTE AccessMode(BYTE flags);

// A computer name as the cart keeps it: the first 15 characters, converted to the ANSI
// code page and read back (characters the code page lacks come back as '?').
CStringEx AsCartStoresName(LPCWSTR computerName);

// Whether the name the cart reports as bound is this computer's, compared the way the cart
// stores names (case-insensitive). An empty bound name is nobody's.
bool IsBoundTo(const CStringEx& boundName, LPCWSTR computerName);
}
