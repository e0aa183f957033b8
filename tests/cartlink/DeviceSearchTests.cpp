// Which devices count as the cart, how the transport finds one, and how arrival and
// removal of device interfaces are classified.
#include "CartLinkTestSupport.h"
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include <cstring>
#include <memory>

namespace
{
CKelvoUSBCommStaticData& Table()
{
    return CKelvoUSBCommStaticData::Instance();
}

struct TableCase
{
    const char* name;
    std::vector<const wchar_t*> strings;
    size_t expectedCount;
    LONG supportedVendor;   // 0: none is supported
};

void PrintTo(const TableCase& c, std::ostream* out)
{
    *out << c.name;
}


class SupportedDevicesTest : public ::testing::TestWithParam<TableCase>
{
protected:
    void SetUp() override
    {
        CResourceLoader::Instance().Load();
        Table().ClearSupportedDevices();
        Table().AddSupportedDevice(0x1234, 0x0001);   // what an empty list must leave alone
    }
    void TearDown() override { Table().ClearSupportedDevices(); }
};
}

TEST_P(SupportedDevicesTest, ConfiguredHardwareIdsFillTheTable)
{
    std::vector<CStringEx> strings;
    for (const wchar_t* text : GetParam().strings)
        strings.emplace_back(text);
    CKelvoUSBComm::LoadSupportedDevices(strings);
    EXPECT_EQ(GetParam().expectedCount, Table().GetSupportedCount());
    if (GetParam().supportedVendor)
    {
        EXPECT_TRUE(Table().IsSupportedVendor(GetParam().supportedVendor));
    }
}

INSTANTIATE_TEST_SUITE_P(
    HardwareIds, SupportedDevicesTest,
    ::testing::Values(
        TableCase{"VendorAndProduct", {L"HID\\VID_0B6A&PID_0417"}, 1, 0x0B6A},
        TableCase{"VendorWithoutProductAddsNothing", {L"HID\\VID_0B6A"}, 0, 0},
        TableCase{"NoVendorTokenIsSkipped", {L"HID\\PID_0417"}, 0, 0},
        TableCase{"TokenAtTheEndGivesZero", {L"HID\\PID_0417&VID"}, 0, 0},
        TableCase{"NoDigitsGivesZero", {L"HID\\VID_XYZ&PID_0417"}, 0, 0},
        TableCase{"DuplicatesAreKept", {L"HID\\VID_0B6A&PID_0417", L"HID\\VID_0B6A&PID_0417"}, 2, 0x0B6A},
        TableCase{"SeveralVendors", {L"USB\\VID_0B6A&PID_0417", L"HID\\VID_1FC9&PID_0003"}, 2, 0x1FC9},
        TableCase{"EmptyListLeavesTheTableAlone", {}, 1, 0x1234}),
    [](const ::testing::TestParamInfo<TableCase>& info) { return std::string(info.param.name); });

class DeviceSearchTest : public CartFixture
{
protected:
    _CObjectExPtr<CKelvoUSBComm> m_transport = MakeObjectEx<CKelvoUSBComm>();
};

TEST_F(DeviceSearchTest, FindsTheSupportedCartAndMakesItCurrent)
{
    AddCart(0x9999, 0x0001);   // a HID device of another vendor
    CCartUSBComm::SetDevicePath(L"");
    EXPECT_TRUE(m_transport->FindDevice());
    EXPECT_EQ(CStringEx(m_cart->GetDevicePath()), CCartUSBComm::GetDevicePath());
    EXPECT_EQ(0, m_cart->GetExchangeCount()) << "the search only opens the device";
}

TEST_F(DeviceSearchTest, FirstSupportedDeviceInTheListWins)
{
    auto second = AddCart(kCartVendor, 0x0999);
    CCartUSBComm::SetDevicePath(L"");
    ASSERT_TRUE(m_transport->FindDevice());
    EXPECT_EQ(CStringEx(m_cart->GetDevicePath()), CCartUSBComm::GetDevicePath());
    // The product ID is not compared: the second cart of the same vendor counts as well.
    EXPECT_TRUE(m_transport->IsSupportedDevice(second->GetDevicePath()));
}

namespace
{
// Lists an interface that cannot be opened ahead of the simulated ones.
class CUnopenableFirst : public IKelvoHidDevices
{
public:
    explicit CUnopenableFirst(_CObjectExPtr<IKelvoHidDevices> next) : m_next(std::move(next)) {}
    CONFIGRET GetInterfaceListSize(ULONG* length, GUID guid) override
    {
        const CONFIGRET result = m_next->GetInterfaceListSize(length, guid);
        *length += static_cast<ULONG>(wcslen(kGone) + 1);
        return result;
    }
    CONFIGRET GetInterfaceList(GUID guid, PWCHAR buffer, ULONG length) override
    {
        const size_t skip = wcslen(kGone) + 1;
        memcpy(buffer, kGone, skip * sizeof(WCHAR));
        return m_next->GetInterfaceList(guid, buffer + skip, length - static_cast<ULONG>(skip));
    }
    BOOLEAN GetAttributes(HANDLE device, LPCWSTR path, HIDD_ATTRIBUTES* attributes) override
    {
        if (wcscmp(path, kGone) == 0)
            ADD_FAILURE() << "attributes asked of a device that did not open";
        return m_next->GetAttributes(device, path, attributes);
    }

private:
    static constexpr const wchar_t* kGone = L"\\\\.\\pipe\\KelvoCartThatIsGone";
    _CObjectExPtr<IKelvoHidDevices> m_next;
};
}

TEST_F(DeviceSearchTest, ListedDeviceThatDoesNotOpenIsPassedOver)
{
    Table().SetHidDevices(MakeObjectEx<CUnopenableFirst>(m_devices));
    CCartUSBComm::SetDevicePath(L"");
    ASSERT_TRUE(m_transport->FindDevice());
    EXPECT_EQ(CStringEx(m_cart->GetDevicePath()), CCartUSBComm::GetDevicePath());
}

TEST_F(DeviceSearchTest, NothingFoundLeavesThePathAlone)
{
    struct Case
    {
        const char* name;
        std::function<void()> arrange;
    } cases[] = {
        {"empty table", [] { Table().ClearSupportedDevices(); }},
        {"list fails as under Wine", [&] { m_devices->SetListFailure(CR_FAILURE); }},
        {"no HID device", [&] { m_devices->Clear(); }},
        {"only another vendor", [&] { m_devices->Clear(); AddCart(0x9999, kCartProduct); }},
        {"cart removed", [&] { m_cart->Stop(); }},
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        c.arrange();
        CCartUSBComm::SetDevicePath(L"previous");
        EXPECT_FALSE(m_transport->FindDevice());
        EXPECT_EQ(CStringEx(L"previous"), CCartUSBComm::GetDevicePath());
        // Back to one present, listed, supported cart.
        m_devices->SetListFailure(CR_SUCCESS);
        m_devices->Clear();
        m_devices->Add(m_cart);
        Table().ClearSupportedDevices();
        CKelvoUSBComm::LoadSupportedDevices({L"HID\\VID_0B6A&PID_0417"});
        ASSERT_EQ(0u, m_cart->Start());
    }
}

TEST_F(DeviceSearchTest, EmptyTableAnswersAtOnce)
{
    Table().ClearSupportedDevices();
    const double start = NowMs();
    EXPECT_FALSE(m_transport->FindDevice());
    EXPECT_FALSE(m_transport->IsSupportedDevice(m_cart->GetDevicePath()));
    EXPECT_LT(NowMs() - start, 500.0);
}

TEST_F(DeviceSearchTest, OpenWithoutPathOpensTheCurrentDevice)
{
    EXPECT_TRUE(m_transport->Open(nullptr).IsValid());
    EXPECT_TRUE(m_transport->Open(L"").IsValid());
    CCartUSBComm::SetDevicePath(L"");
    EXPECT_FALSE(m_transport->Open(nullptr).IsValid());
    EXPECT_TRUE(m_transport->Open(m_cart->GetDevicePath()).IsValid());
    EXPECT_FALSE(m_transport->Open(L"\\\\.\\pipe\\KelvoNoSuchCart").IsValid());
}

namespace
{
// A device-interface broadcast as Windows sends it with WM_DEVICECHANGE.
std::unique_ptr<BYTE[]> MakeBroadcast(LPCWSTR name, DWORD deviceType = DBT_DEVTYP_DEVICEINTERFACE)
{
    const size_t chars = wcslen(name) + 1;
    const size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + chars * sizeof(WCHAR);
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]());
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(buffer.get());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = deviceType;
    memcpy(broadcast->dbcc_name, name, chars * sizeof(WCHAR));
    return buffer;
}

const DEV_BROADCAST_HDR* Header(const std::unique_ptr<BYTE[]>& buffer)
{
    return reinterpret_cast<const DEV_BROADCAST_HDR*>(buffer.get());
}

CStringEx Upper(CStringEx text)
{
    return text.MakeUpper();
}
}

TEST_F(DeviceSearchTest, DeviceChangesAreClassified)
{
    auto other = AddCart(0x9999, 0x0001);
    const CStringEx cart = m_cart->GetDevicePath();
    struct Case
    {
        const char* name;
        UINT_PTR event;
        CStringEx device;
        DWORD deviceType;
        const wchar_t* pathBefore;
        int expected;
        const wchar_t* pathAfter;
    } cases[] = {
        {"arrival of the cart", DBT_DEVICEARRIVAL, cart, DBT_DEVTYP_DEVICEINTERFACE, L"", 1, cart},
        {"arrival of another device", DBT_DEVICEARRIVAL, other->GetDevicePath(), DBT_DEVTYP_DEVICEINTERFACE, L"", -1, L""},
        {"arrival with no name", DBT_DEVICEARRIVAL, L"", DBT_DEVTYP_DEVICEINTERFACE, L"", -1, L""},
        {"arrival of a volume", DBT_DEVICEARRIVAL, cart, DBT_DEVTYP_VOLUME, L"", -1, L""},
        {"removal of the cart, other case", DBT_DEVICEREMOVECOMPLETE, Upper(cart), DBT_DEVTYP_DEVICEINTERFACE, cart, 0, L""},
        {"removal of another device", DBT_DEVICEREMOVECOMPLETE, other->GetDevicePath(), DBT_DEVTYP_DEVICEINTERFACE, cart, -1, cart},
        {"removal with no name", DBT_DEVICEREMOVECOMPLETE, L"", DBT_DEVTYP_DEVICEINTERFACE, cart, -1, cart},
        {"query remove failed", DBT_DEVICEQUERYREMOVEFAILED, cart, DBT_DEVTYP_DEVICEINTERFACE, cart, -1, cart},
        {"other event", DBT_DEVICEQUERYREMOVE, cart, DBT_DEVTYP_DEVICEINTERFACE, cart, -1, cart},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        CCartUSBComm::SetDevicePath(c.pathBefore);
        const auto broadcast = MakeBroadcast(c.device, c.deviceType);
        EXPECT_EQ(c.expected, CKelvoUSBComm::OnDeviceChange(c.event, Header(broadcast)));
        EXPECT_EQ(CStringEx(c.pathAfter), CCartUSBComm::GetDevicePath());
    }
    EXPECT_EQ(-1, CKelvoUSBComm::OnDeviceChange(DBT_DEVICEARRIVAL, nullptr));
}

namespace
{
std::string ReadBytes(LPCWSTR path)
{
    CFileHandleEx file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    return text;
}
}

TEST_F(DeviceSearchTest, IdentityIsAskedOnlyWhenEventsAreLogged)
{
    ASSERT_EQ(S_OK, CUtilLogging::Instance().Initialize(0, 30, L"unused", FOLDERID_LocalAppData));
    EXPECT_EQ(0u, m_transport->QueryDeviceIdentity());
    EXPECT_EQ(0, m_cart->GetExchangeCount());
}

TEST_F(DeviceSearchTest, IdentityIsReadAndLoggedUntilComplete)
{
    CStringEx prefix;
    prefix.Format(L"CartIdentity%lu_%lu", GetCurrentProcessId(), GetTickCount());
    ASSERT_EQ(S_OK, CUtilLogging::Instance().Initialize(5, 30, prefix, FOLDERID_LocalAppData));
    const CStringEx logFile = CUtilLogging::Instance().GetFilePath();

    m_cart->SetIdentity(3, L"SN-778899", L"5.1.0");
    EXPECT_EQ(0u, m_transport->QueryDeviceIdentity());
    EXPECT_EQ(3, m_cart->GetExchangeCount());

    // A cart that reports no protocol version, or no cart, leaves it to be asked again.
    m_cart->SetIdentity(0, L"SN-778899", L"5.1.0");
    EXPECT_EQ(1u, m_transport->QueryDeviceIdentity());
    EXPECT_EQ(4, m_cart->GetExchangeCount());
    m_cart->Stop();
    EXPECT_EQ(1u, m_transport->QueryDeviceIdentity());
    CCartUSBComm::SetDevicePath(L"");
    EXPECT_EQ(0u, m_transport->QueryDeviceIdentity());

    CUtilLogging::Instance().Initialize(0, 30, prefix, FOLDERID_LocalAppData);
    const std::string log = ReadBytes(logFile);
    DeleteFileW(logFile);
    EXPECT_NE(std::string::npos, log.find("Cart protocol version 3, serial number SN-778899, firmware version 5.1.0."))
        << log;
    EXPECT_NE(std::string::npos, log.find("Cart answer")) << "answers are dumped at level 5";
}
