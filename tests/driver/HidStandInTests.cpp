// The cfgmgr32.dll and hid.dll stand-ins under the agent's own cart search: a separate
// program (HidStandInProbe) runs CKelvoUSBComm with Windows' device source beside them and
// talks to the cart simulator program.
#include "sim/driver/KelvoScenarioDriver.h"
#include "common/CUniqueAnyEx.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace
{
std::string ReadFileBytes(LPCWSTR path)
{
    std::ifstream file(ScenarioUtf8(path).c_str(), std::ios::binary);
    if (!file)
    {
        // Narrow paths may not name every file; read through Windows then.
        CFileHandleEx handle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        std::string bytes;
        char chunk[65536];
        DWORD got = 0;
        while (handle && ReadFile(handle.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
            bytes.append(chunk, got);
        return bytes;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A 64-bit PE file read from disk, enough to list its imports and exports by name.
class CPeFile
{
public:
    explicit CPeFile(LPCWSTR path) : m_bytes(ReadFileBytes(path))
    {
        if (m_bytes.size() < sizeof(IMAGE_DOS_HEADER))
            return;
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(m_bytes.data());
        if (static_cast<size_t>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS64) > m_bytes.size())
            return;
        m_nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(m_bytes.data() + dos->e_lfanew);
        if (m_nt->Signature != IMAGE_NT_SIGNATURE || m_nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC)
            m_nt = nullptr;
    }

    // Imported function names by lower-case DLL name.
    std::map<std::string, std::set<std::string>> Imports() const
    {
        std::map<std::string, std::set<std::string>> imports;
        const auto* descriptor =
            At<IMAGE_IMPORT_DESCRIPTOR>(Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
        for (; descriptor && descriptor->Name; ++descriptor)
        {
            std::string dll = Text(descriptor->Name);
            std::transform(dll.begin(), dll.end(), dll.begin(), ::tolower);
            const DWORD thunks = descriptor->OriginalFirstThunk ? descriptor->OriginalFirstThunk : descriptor->FirstThunk;
            for (const auto* thunk = At<ULONGLONG>(thunks); thunk && *thunk; ++thunk)
            {
                if (!(*thunk & IMAGE_ORDINAL_FLAG64))
                    imports[dll].insert(Text(static_cast<DWORD>(*thunk) + 2));
            }
        }
        return imports;
    }

    std::set<std::string> Exports() const
    {
        std::set<std::string> exports;
        const auto* directory = At<IMAGE_EXPORT_DIRECTORY>(Directory(IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
        const DWORD* names = directory ? At<DWORD>(directory->AddressOfNames) : nullptr;
        for (DWORD i = 0; names && i < directory->NumberOfNames; ++i)
            exports.insert(Text(names[i]));
        return exports;
    }

    bool IsValid() const { return m_nt != nullptr; }

private:
    IMAGE_DATA_DIRECTORY Directory(int index) const
    {
        return m_nt ? m_nt->OptionalHeader.DataDirectory[index] : IMAGE_DATA_DIRECTORY{};
    }
    // The file offset of an address of the loaded image; 0 when no section holds it.
    size_t Offset(DWORD rva) const
    {
        const auto* section = IMAGE_FIRST_SECTION(m_nt);
        for (WORD i = 0; rva && i < m_nt->FileHeader.NumberOfSections; ++i, ++section)
        {
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    template <class T>
    const T* At(DWORD rva) const
    {
        const size_t offset = m_nt ? Offset(rva) : 0;
        return offset && offset + sizeof(T) <= m_bytes.size() ? reinterpret_cast<const T*>(m_bytes.data() + offset)
                                                              : nullptr;
    }
    std::string Text(DWORD rva) const
    {
        const char* text = At<char>(rva);
        return text ? std::string(text, strnlen(text, m_bytes.size() - (text - m_bytes.data()))) : std::string();
    }

    std::string m_bytes;
    const IMAGE_NT_HEADERS64* m_nt = nullptr;
};

struct ProbeCase
{
    const char* name;
    bool standIns;              // the stand-ins lie beside the program
    USHORT configuredVendor;    // vendor ID of the hardware ID the program is configured with
    bool cartPresent;
    const char* extraEntry;     // a device-list entry before the cart's, or null
    DWORD exitCode;             // 0 found and answered, 3 no cart found
    const char* arrival;        // the program's answer to an arrival broadcast for the cart
};

void PrintTo(const ProbeCase& c, std::ostream* out) { *out << c.name; }

class HidStandInSearch : public ::testing::TestWithParam<ProbeCase>
{
};
}

TEST_P(HidStandInSearch, CartSearchFindsTheSimulatedCartOnlyThroughTheStandIns)
{
    const ProbeCase& c = GetParam();
    CCartSimProcess cart;
    ASSERT_EQ(0u, cart.Start()) << ScenarioUtf8(cart.GetErrorText());
    CScenarioFolder folder;
    ASSERT_EQ(0u, folder.Create(L"HidStandInProbe.exe")) << ScenarioUtf8(folder.GetErrorText());
    std::vector<CScenarioFolder::HidDevice> devices;
    if (c.extraEntry)
        devices.push_back({CStringEx(std::wstring(c.extraEntry, c.extraEntry + strlen(c.extraEntry))), 0, 0});
    devices.push_back({cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId()});
    ASSERT_EQ(0u, folder.SetHidDevices(devices));
    if (!c.cartPresent)
    {
        ASSERT_TRUE(cart.Remove());
    }

    CScenarioProcess probe;
    CScenarioProcess::Options options;
    options.program = folder.GetProgramPath();
    options.arguments.Format(L"\"%s\" \"%s\"", folder.HardwareId(c.configuredVendor, cart.GetProductId()).GetString(),
                             cart.GetDevicePath().GetString());
    options.redirectStdio = true;
    options.environment.emplace_back(L"KELVO_HID_SIM_TRACE", folder.GetHidTracePath());
    if (!c.standIns)
    {
        // The folder's override asks for the libraries beside the program: with none there,
        // Wine's own answer.
        ASSERT_TRUE(DeleteFileW(folder.PathOf(L"cfgmgr32.dll")));
        ASSERT_TRUE(DeleteFileW(folder.PathOf(L"hid.dll")));
    }
    const size_t mark = cart.Mark();
    ASSERT_EQ(0u, probe.Start(options));
    DWORD exitCode = 99;
    ASSERT_TRUE(probe.WaitForExit(20000, &exitCode));
    EXPECT_TRUE(probe.WaitForOutputEnd(5000));
    std::string output;
    for (const CStringEx& line : probe.GetLines())
        output += ScenarioUtf8(line) + "\n";
    const std::string trace = ReadFileBytes(folder.GetHidTracePath());

    // The process survives the search (Wine's own configuration manager would end it) and
    // finds the cart exactly when the stand-ins present a supported, present cart.
    EXPECT_EQ(c.exitCode, exitCode) << output << trace;
    EXPECT_NE(std::string::npos, output.find(std::string("arrival ") + c.arrival)) << output;
    if (c.exitCode == 0)
    {
        EXPECT_NE(std::string::npos, output.find("found " + ScenarioUtf8(cart.GetDevicePath()))) << output;
        EXPECT_NE(std::string::npos, output.find("status 0x01\nbutton 0x00")) << output;
        EXPECT_TRUE(cart.WaitForExchange(L"status 0x01 reported", mark, 5000)) << cart.Transcript();
        EXPECT_TRUE(cart.WaitForExchange(L"drawer button not pressed", mark, 5000)) << cart.Transcript();
    }
    else
    {
        EXPECT_EQ(0u, cart.CountExchanges(L"reported", mark)) << cart.Transcript();
    }
    // Only a program that loaded the stand-ins leaves their trace.
    EXPECT_EQ(c.standIns, trace.find("CM_Get_Device_Interface_List_SizeW") != std::string::npos) << trace;
    if (c.extraEntry)
    {
        EXPECT_NE(std::string::npos, trace.find("ignored device entry")) << trace;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HidStandInSearch,
    ::testing::Values(ProbeCase{"StandInsListTheCart", true, CCartSimProcess::kVendorId, true, nullptr, 0, "1"},
                      ProbeCase{"WineOwnLibrariesFindNothing", false, CCartSimProcess::kVendorId, true, nullptr, 3, "-1"},
                      ProbeCase{"OtherVendorConfigured", true, 0x0B6B, true, nullptr, 3, "-1"},
                      ProbeCase{"RemovedCartIsNotListed", true, CCartSimProcess::kVendorId, false, nullptr, 3, "-1"},
                      ProbeCase{"BadEntryIsSkipped", true, CCartSimProcess::kVendorId, true, "\\\\.\\pipe\\x;zz", 0, "1"}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

TEST(HidStandIns, ExportEveryFunctionThatTheBuildsProgramsImport)
{
    const CStringEx folder = ScenarioProgramFolder();
    std::map<std::string, std::set<std::string>> exports;
    for (const char* dll : {"cfgmgr32.dll", "hid.dll"})
    {
        const CStringEx path = ScenarioPath(ScenarioPath(folder, L"standins"),
                                            CStringEx(std::wstring(dll, dll + strlen(dll))));
        const CPeFile standIn(path);
        ASSERT_TRUE(standIn.IsValid()) << ScenarioUtf8(path);
        exports[dll] = standIn.Exports();
    }
    EXPECT_EQ(1u, exports["hid.dll"].count("HidD_GetHidGuid"));

    size_t programs = 0;
    WIN32_FIND_DATAW entry;
    CFindHandleEx find(FindFirstFileW(ScenarioPath(folder, L"*.exe"), &entry));
    ASSERT_TRUE(find);
    do
    {
        const CPeFile program(ScenarioPath(folder, entry.cFileName));
        if (!program.IsValid())
            continue;
        ++programs;
        for (const auto& imported : program.Imports())
        {
            const auto standIn = exports.find(imported.first);
            if (standIn == exports.end())
                continue;
            for (const std::string& function : imported.second)
                EXPECT_EQ(1u, standIn->second.count(function))
                    << ScenarioUtf8(entry.cFileName) << " imports " << function << " from " << imported.first;
        }
    } while (FindNextFileW(find.Get(), &entry));
    EXPECT_GT(programs, 5u);
}
