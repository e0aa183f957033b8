#include "configsvc/CKelvoComSecurity.h"
#include "common/CUniqueAnyEx.h"
#include <objbase.h>
#include <sddl.h>

// CC = COM_RIGHTS_EXECUTE, DC = COM_RIGHTS_EXECUTE_LOCAL, SW = COM_RIGHTS_ACTIVATE_LOCAL;
// the remote rights (LC, RP) are given to nobody.
const wchar_t* const CKelvoComSecurity::kLaunchSddl = L"O:BAG:BAD:(A;;CCDCSW;;;SY)(A;;CCDCSW;;;BA)(A;;CCDCSW;;;IU)";
const wchar_t* const CKelvoComSecurity::kAccessSddl = L"O:BAG:BAD:(A;;CCDC;;;SY)(A;;CCDC;;;BA)(A;;CCDC;;;IU)";
const DWORD CKelvoComSecurity::kCapabilities = EOAC_DISABLE_AAA | EOAC_NO_CUSTOM_MARSHAL;

std::vector<BYTE> CKelvoComSecurity::SelfRelative(const wchar_t* sddl, DWORD* error)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, &size))
    {
        if (error)
            *error = GetLastError();
        return {};
    }
    CLocalMemEx memory(descriptor);
    const BYTE* bytes = static_cast<const BYTE*>(descriptor);
    return std::vector<BYTE>(bytes, bytes + size);
}

HRESULT CKelvoComSecurity::InitializeProcess()
{
    DWORD error = ERROR_SUCCESS;
    std::vector<BYTE> selfRelative = SelfRelative(kAccessSddl, &error);
    if (selfRelative.empty())
        return HRESULT_FROM_WIN32(error);

    // COM takes an absolute descriptor: its parts are separate buffers, alive until COM is
    // uninitialised, which this process does only as it ends.
    static SECURITY_DESCRIPTOR absolute;
    static BYTE dacl[256], owner[SECURITY_MAX_SID_SIZE], group[SECURITY_MAX_SID_SIZE];
    DWORD absoluteSize = sizeof(absolute), daclSize = sizeof(dacl), saclSize = 0;
    DWORD ownerSize = sizeof(owner), groupSize = sizeof(group);
    if (!MakeAbsoluteSD(selfRelative.data(), &absolute, &absoluteSize, reinterpret_cast<PACL>(dacl), &daclSize, nullptr,
                        &saclSize, owner, &ownerSize, group, &groupSize))
        return HRESULT_FROM_WIN32(GetLastError());
    return CoInitializeSecurity(&absolute, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IDENTIFY,
                                nullptr, kCapabilities, nullptr);
}
