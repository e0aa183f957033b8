// A client of the installed configuration service, as the editor is one: creates AgentConfig
// by its class through COM (which starts the service on demand) and makes one call, so that
// the answer comes from the service's process. Prints what happened and ends with 0 only when
// the object was created and its answer came back.
//
// The call names no user: the service refuses it, and the refusal shows that the object
// answered. An answer that never came back is an RPC failure (facility 1, codes 0x06xx).
#include <windows.h>
#include <cstdio>

#include "KelvoConfigSvcLib.h"
#include "common/CComPtrEx.h"

namespace
{
// Keeps COM initialised for the life of the object.
class CComApartment
{
public:
    CComApartment() : m_hr(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComApartment()
    {
        if (SUCCEEDED(m_hr))
            CoUninitialize();
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
    HRESULT Result() const { return m_hr; }

private:
    HRESULT m_hr;
};

bool IsRpcFailure(HRESULT hr)
{
    return HRESULT_FACILITY(hr) == FACILITY_WIN32 && (HRESULT_CODE(hr) & 0xFF00) == 0x0600;
}
}  // namespace

int wmain()
{
    CComApartment apartment;
    if (FAILED(apartment.Result()))
    {
        std::printf("CoInitializeEx: 0x%08lX\n", static_cast<unsigned long>(apartment.Result()));
        return 2;
    }

    CComPtrEx<IAgentConfig> agentConfig;
    HRESULT hr = CoCreateInstance(CLSID_AgentConfig, nullptr, CLSCTX_LOCAL_SERVER, IID_IAgentConfig, agentConfig.PutVoid());
    std::printf("CoCreateInstance(AgentConfig): 0x%08lX\n", static_cast<unsigned long>(hr));
    if (FAILED(hr) || !agentConfig)
        return 1;

    CBstrEx empty(L"");
    hr = agentConfig->SaveChanges(empty.Get(), empty.Get(), empty.Get(), empty.Get());
    std::printf("SaveChanges without names: 0x%08lX\n", static_cast<unsigned long>(hr));
    if (SUCCEEDED(hr) || IsRpcFailure(hr))
        return 1;
    return 0;
}
