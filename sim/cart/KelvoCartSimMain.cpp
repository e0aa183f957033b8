// KelvoCartSim: a simulated cart controller on a named pipe, for demonstrations. It prints
// what the cart does, one line per exchange, and takes commands on its standard input.
#include "sim/cart/CKelvoCartSimulator.h"
#include <cstdio>
#include <cwchar>
#include <iostream>
#include <sstream>
#include <string>

namespace
{
void Usage()
{
    fwprintf(stderr,
             L"usage: KelvoCartSim [--pipe NAME] [--vid HEX] [--pid HEX] [--bound COMPUTER] [--refuse]\n"
             L"commands on standard input: press | release | bind NAME | refuse | grant | access HEX |\n"
             L"  status HEX | fault none|late MS|ignore-write|ignore-read|short|wrong-command|hang-up [for HEX] |\n"
             L"  remove | restore | quit\n");
}

CRITICAL_SECTION g_output;

void Print(const wchar_t* text)
{
    EnterCriticalSection(&g_output);
    fwprintf(stdout, L"%ls\n", text);
    fflush(stdout);
    LeaveCriticalSection(&g_output);
}

bool ApplyFault(CKelvoCartSimulator& cart, const std::wstring& name, DWORD delay, BYTE command)
{
    static const struct { const wchar_t* name; KelvoCartFault fault; } faults[] = {
        {L"none", KelvoCartFault::None},
        {L"late", KelvoCartFault::AnswerLate},
        {L"ignore-write", KelvoCartFault::IgnoreWrite},
        {L"ignore-read", KelvoCartFault::IgnoreRead},
        {L"short", KelvoCartFault::ShortAnswer},
        {L"wrong-command", KelvoCartFault::WrongCommand},
        {L"hang-up", KelvoCartFault::HangUp},
    };
    for (const auto& entry : faults)
    {
        if (name == entry.name)
        {
            cart.SetFault(entry.fault, delay, -1, command);
            return true;
        }
    }
    return false;
}

// Runs one command line; false ends the program.
bool RunCommand(CKelvoCartSimulator& cart, const std::wstring& line)
{
    wchar_t word[64] = {}, argument[256] = {};
    const int fields = swscanf(line.c_str(), L"%63ls %255ls", word, argument);
    if (fields < 1)
        return true;
    const std::wstring command = word;
    if (command == L"quit")
        return false;
    if (command == L"press")
        cart.SetButton(KELVO_DRAWER_BUTTON_PRESSED);
    else if (command == L"release")
        cart.SetButton(0);
    else if (command == L"bind" && fields == 2)
        cart.SetBoundComputer(argument);
    else if (command == L"refuse")
        cart.SetRefuseAccess(true);
    else if (command == L"grant")
        cart.SetRefuseAccess(false);
    else if (command == L"access" && fields == 2)
        cart.SetAccess(static_cast<BYTE>(wcstoul(argument, nullptr, 16)));
    else if (command == L"status" && fields == 2)
        cart.SetStatus(static_cast<BYTE>(wcstoul(argument, nullptr, 16)));
    else if (command == L"fault" && fields >= 2)
    {
        // After the fault's name: its delay in milliseconds, and "for" with the command code
        // it is limited to.
        std::wistringstream rest(line);
        std::wstring token;
        rest >> token >> token;
        DWORD delay = 0;
        BYTE code = 0;
        while (rest >> token)
        {
            if (token == L"for" && rest >> token)
                code = static_cast<BYTE>(wcstoul(token.c_str(), nullptr, 16));
            else
                delay = wcstoul(token.c_str(), nullptr, 10);
        }
        if (!ApplyFault(cart, argument, delay, code))
        {
            Print(L"unknown fault");
            return true;
        }
    }
    else if (command == L"remove")
    {
        cart.Stop();
        Print(L"cart removed");
        return true;
    }
    else if (command == L"restore")
    {
        const DWORD error = cart.Start();
        Print(error ? L"cart could not be restored" : L"cart present again");
        return true;
    }
    else
    {
        Usage();
        return true;
    }
    Print(L"ok");
    return true;
}
}

int wmain(int argc, wchar_t** argv)
{
    InitializeCriticalSection(&g_output);
    const wchar_t* pipeName = L"KelvoCart";
    USHORT vendorId = 0x0B6A, productId = 0x0417;
    const wchar_t* bound = nullptr;
    bool refuse = false;
    for (int i = 1; i < argc; ++i)
    {
        const std::wstring option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == L"--pipe" && hasValue)
            pipeName = argv[++i];
        else if (option == L"--vid" && hasValue)
            vendorId = static_cast<USHORT>(wcstoul(argv[++i], nullptr, 16));
        else if (option == L"--pid" && hasValue)
            productId = static_cast<USHORT>(wcstoul(argv[++i], nullptr, 16));
        else if (option == L"--bound" && hasValue)
            bound = argv[++i];
        else if (option == L"--refuse")
            refuse = true;
        else
        {
            Usage();
            return 2;
        }
    }

    const _CObjectExPtr<CKelvoCartSimulator> cart = MakeObjectEx<CKelvoCartSimulator>(vendorId, productId, pipeName);
    if (bound)
        cart->SetBoundComputer(bound);
    cart->SetRefuseAccess(refuse);
    cart->SetLineSink([](const CStringEx& line) { Print(line); });
    if (const DWORD error = cart->Start())
    {
        fwprintf(stderr, L"KelvoCartSim: the pipe %ls could not be created (error %lu)\n",
                 cart->GetDevicePath().GetString(), error);
        return 1;
    }
    CStringEx banner;
    banner.Format(L"cart on %s, vendor ID %04X, product ID %04X", cart->GetDevicePath().GetString(), vendorId, productId);
    Print(banner);

    std::wstring line;
    while (std::getline(std::wcin, line))
    {
        if (!RunCommand(*cart, line))
            break;
    }
    cart->Stop();
    return 0;
}
