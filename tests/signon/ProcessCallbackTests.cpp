// The agent's callback object as the product and late-binding clients see it.
#include "agent/KelvoAgentMessages.h"
#include "agent/ProcessCallback.h"
#include "tests/signon/SignOnTestWorld.h"
#include <gtest/gtest.h>

namespace
{
constexpr DWORD kWaitMs = 10000;

// Stands in for the product's object where only its reference count matters.
class CountingUnknown : public IUnknown
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override
    {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_count); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_count); }
    LONG m_count = 0;
};

// The callback as the agent keeps it: owned through its IProcessCallback interface, made for
// one sign-in run.
CComPtrEx<IProcessCallback> MakeCallback(HWND window, IUnknown* auth, ULONG run = 1)
{
    CComPtrEx<IProcessCallback> callback;
    ProcessCallback* created = ProcessCallback::Create(window, auth, run);
    EXPECT_EQ(created->QueryInterface(IID_IProcessCallback, callback.PutVoid()), S_OK);
    return callback;
}

struct QueryCase
{
    const char* name;
    IID iid;
    HRESULT expected;
};

void PrintTo(const QueryCase& c, std::ostream* out)
{
    *out << c.name;
}

class SignOnCallbackQueryTest : public ::testing::TestWithParam<QueryCase>
{
};

TEST_P(SignOnCallbackQueryTest, OffersOnlyIUnknownAndIProcessCallback)
{
    const QueryCase& c = GetParam();
    CComPtrEx<IProcessCallback> callback = MakeCallback(nullptr, nullptr);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(callback->QueryInterface(c.iid, &object), c.expected);
    if (SUCCEEDED(c.expected))
    {
        EXPECT_EQ(object, static_cast<void*>(callback.Get()));
        CComPtrEx<IUnknown> owned;
        owned.Attach(static_cast<IUnknown*>(object));
        EXPECT_EQ(callback->AddRef(), 3u);
        EXPECT_EQ(callback->Release(), 2u);
    }
    else
    {
        EXPECT_EQ(object, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Interfaces, SignOnCallbackQueryTest,
    ::testing::Values(QueryCase{"IUnknown", IID_IUnknown, S_OK}, QueryCase{"IProcessCallback", IID_IProcessCallback, S_OK},
                      QueryCase{"IDispatch", IID_IDispatch, E_NOINTERFACE},
                      QueryCase{"IClassFactory", IID_IClassFactory, E_NOINTERFACE}),
    [](const ::testing::TestParamInfo<QueryCase>& info) { return std::string(info.param.name); });

TEST(SignOnProcessCallback, HoldsOneReferenceToTheProductUntilItsLastReleaseThenDropsIt)
{
    CountingUnknown product;
    {
        CComPtrEx<IProcessCallback> callback = MakeCallback(nullptr, &product);
        EXPECT_EQ(product.m_count, 1);
        CComPtrEx<IProcessCallback> second = callback;
        EXPECT_EQ(product.m_count, 1);
    }
    EXPECT_EQ(product.m_count, 0);
}

// Late binding goes through the type library registered by the product.
class SignOnCallbackDispatchTest : public ::testing::Test
{
protected:
    SignOnTestWorld m_world;
};

TEST_F(SignOnCallbackDispatchTest, TypeInformationComesFromTheProductsTypeLibrary)
{
    CComPtrEx<IProcessCallback> callback = MakeCallback(m_world.Window(), nullptr);
    UINT count = 0;
    EXPECT_EQ(callback->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(callback->GetTypeInfoCount(nullptr), E_POINTER);

    CComPtrEx<ITypeInfo> info;
    EXPECT_EQ(callback->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
    EXPECT_EQ(callback->GetTypeInfo(0, 0, nullptr), E_POINTER);
    ASSERT_EQ(callback->GetTypeInfo(0, 0, info.Put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IProcessCallback));
    info->ReleaseTypeAttr(attr);
}

TEST_F(SignOnCallbackDispatchTest, NamesAreFoundExactlyOrByTheTypeInformation)
{
    CComPtrEx<IProcessCallback> callback = MakeCallback(m_world.Window(), nullptr);
    struct NameCase
    {
        const wchar_t* name;
        HRESULT expected;
        DISPID id;
    } cases[] = {
        {L"AuthenticationCompleted", S_OK, DISPID_ProcessCallback_Completed},
        {L"AuthenticationStarted", S_OK, DISPID_ProcessCallback_Started},
        {L"AuthenticationProgress", S_OK, DISPID_ProcessCallback_Progress},
        // Not in the exact-match cache: the type information answers, without regard to case.
        {L"authenticationcompleted", S_OK, DISPID_ProcessCallback_Completed},
        {L"AuthenticationComplete", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
    };
    for (const NameCase& c : cases)
    {
        LPOLESTR name = const_cast<LPOLESTR>(c.name);
        DISPID id = 12345;
        EXPECT_EQ(callback->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), c.expected) << c.name;
        if (c.expected == S_OK)
        {
            EXPECT_EQ(id, c.id) << c.name;
        }
    }
}

TEST_F(SignOnCallbackDispatchTest, InvokedResultIsPostedSignExtendedWithTheNumberOfItsRun)
{
    CComPtrEx<IProcessCallback> callback = MakeCallback(m_world.Window(), nullptr, 41);
    CVariantEx argument;
    argument.vt = VT_I4;
    argument.lVal = -1;
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    EXPECT_EQ(callback->Invoke(DISPID_ProcessCallback_Completed, IID_IDispatch, 0, DISPATCH_METHOD, &params, nullptr,
                               nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
    ASSERT_EQ(callback->Invoke(DISPID_ProcessCallback_Completed, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                               nullptr, nullptr),
              S_OK);
    SignOnTestWorld::Posted posted{};
    ASSERT_TRUE(m_world.WaitForPosted(WM_AGENT_AUTH_RESULT, kWaitMs, &posted));
    EXPECT_EQ(posted.wParam, ~WPARAM(0));
    EXPECT_EQ(posted.lParam, 41);

    // The first two methods are accepted and do nothing.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(callback->Invoke(DISPID_ProcessCallback_Started, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                               nullptr),
              S_OK);
    argument.lVal = 7;
    EXPECT_EQ(callback->Invoke(DISPID_ProcessCallback_Progress, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr,
                               nullptr, nullptr),
              S_OK);
    m_world.Pump(100);
    EXPECT_TRUE(m_world.PostedMessages().empty());
}
}
