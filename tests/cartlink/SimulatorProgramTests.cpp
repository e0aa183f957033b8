// The cart simulator as its own program, as a demonstration runs it: the transport finds it
// through the device list and talks to it across processes; it prints one line per exchange.
#include "CartLinkTestSupport.h"
#include "common/CResourceLoader.h"
#include "common/CUniqueAnyEx.h"
#include <mutex>
#include <string>
#include <thread>

namespace
{
class SimulatorProgramTest : public CartFixture
{
protected:
    void SetUp() override
    {
        CartFixture::SetUp();
        m_devices->Clear();
        CCartUSBComm::SetDevicePath(L"");
        m_pipeName.Format(L"KelvoCartProgramTest%lu_%lu", GetCurrentProcessId(), GetTickCount());
        m_path.Format(L"\\\\.\\pipe\\%s", m_pipeName.GetString());
    }
    void TearDown() override
    {
        m_input.Reset();
        if (m_process.IsValid() && m_process.Wait(5000) != WAIT_OBJECT_0)
            TerminateProcess(m_process.GetHandle(), 1);
        if (m_reader.joinable())
            m_reader.join();
        CartFixture::TearDown();
    }

    void Launch()
    {
        CStringEx folder, name;
        ASSERT_TRUE(CResourceLoader::GetModulePath(folder, name, FALSE));
        CStringEx commandLine;
        commandLine.Format(L"\"%s\\KelvoCartSim.exe\" --pipe %s --bound WS01", folder.GetString(),
                           m_pipeName.GetString());

        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, inRead = nullptr, inWrite = nullptr;
        ASSERT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
        ASSERT_TRUE(CreatePipe(&inRead, &inWrite, &inherit, 0));
        CFileHandleEx output(outRead), childOutput(outWrite), childInput(inRead);
        m_input.Reset(inWrite);
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = outWrite;
        PROCESS_INFORMATION process = {};
        std::wstring mutableLine = commandLine.Str();
        ASSERT_TRUE(CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   nullptr, &startup, &process))
            << GetLastError();
        m_process.Attach(process.hProcess);
        CHandleEx thread(process.hThread);

        m_reader = std::thread([this, pipe = std::move(output)] {
            char chunk[512];
            DWORD read = 0;
            while (ReadFile(pipe.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_output.append(chunk, read);
            }
        });
    }
    bool WaitForOutput(const std::string& text)
    {
        return WaitUntil(
            [&] {
                std::lock_guard<std::mutex> lock(m_mutex);
                return m_output.find(text) != std::string::npos;
            },
            5000);
    }
    std::string Output()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_output;
    }
    void Command(const char* line)
    {
        DWORD written = 0;
        WriteFile(m_input.Get(), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
    }

    CStringEx m_pipeName, m_path;
    CProcessEx m_process;
    CFileHandleEx m_input;
    std::thread m_reader;
    std::mutex m_mutex;
    std::string m_output;
    _CObjectExPtr<CKelvoUSBComm> m_transport = MakeObjectEx<CKelvoUSBComm>();
};
}

TEST_F(SimulatorProgramTest, ProgramIsFoundAnswersAndReportsEachExchange)
{
    Launch();
    ASSERT_TRUE(WaitForOutput("cart on ")) << Output();
    m_devices->AddRemote(m_path, kCartVendor, kCartProduct);
    ASSERT_TRUE(m_transport->FindDevice());
    EXPECT_EQ(m_path, CCartUSBComm::GetDevicePath());

    const CKelvoAuthDrawerAccessRequest access(L"WS01", L"nurse1", 2);
    CKelvoAuthDrawerAccessResponse granted;
    ASSERT_EQ(0u, m_transport->Transact(&access, &granted));
    EXPECT_TRUE(granted.IsGranted());
    EXPECT_TRUE(WaitForOutput("drawer access granted to nurse1 on WS01 (mode 2)\r\n")) << Output();

    Command("press\n");
    ASSERT_TRUE(WaitForOutput("ok")) << Output();
    const CKelvoPollForDrawerBtnRequest poll;
    CKelvoPollForDrawerBtnResponse button;
    ASSERT_EQ(0u, m_transport->Transact(&poll, &button));
    EXPECT_TRUE(button.IsPressed());
    EXPECT_TRUE(WaitForOutput("drawer button pressed")) << Output();

    // A fault limited to one command leaves the others' exchanges as they were.
    Command("fault short for 69\n");
    ASSERT_TRUE(WaitForOutput("drawer button pressed\r\nok\r\n")) << Output();
    EXPECT_EQ(0u, m_transport->Transact(&poll, &button));
    EXPECT_EQ(13u, m_transport->Transact(&access, &granted));
    EXPECT_TRUE(WaitForOutput("(answered with 3 bytes)")) << Output();
    EXPECT_EQ(0u, m_transport->Transact(&poll, &button));

    // Removed: the device is no longer listed and the exchange finds no cart.
    Command("remove\n");
    ASSERT_TRUE(WaitForOutput("cart removed")) << Output();
    EXPECT_EQ(1167u, m_transport->Transact(&poll, &button));
    EXPECT_FALSE(m_transport->FindDevice());

    Command("quit\n");
    ASSERT_EQ(WAIT_OBJECT_0, m_process.Wait(5000));
    DWORD exitCode = 1;
    GetExitCodeProcess(m_process.GetHandle(), &exitCode);
    EXPECT_EQ(0u, exitCode);
}
