#pragma once
#include "sim/signon/CSimComObject.h"

// The prompt's companion object. The client only hands it to the start of the prompt.
class CSimCompanion : public CSimComObject
{
public:
    // A new object with its first reference handed to the caller.
    static IUnknown* Create();

private:
    CSimCompanion();
    static const Table& GetTable();
};
