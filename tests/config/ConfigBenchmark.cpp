// Times the configuration classes on a file of 10,000 entries: load, 10,000 lookups,
// a full enumeration, 100 changes and a save. Prints one line per step.
// Usage: ConfigBenchmark [entries] (run from the folder that holds KVResource.dll).
#include "common/CConfigValue.h"
#include "common/CConfigurationEx.h"
#include "common/CResourceLoader.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <objbase.h>
#include <string>
#include <vector>

namespace
{
double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool WriteFileText(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size();
}
}

int main(int argc, char** argv)
{
    const int entries = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || CResourceLoader::Instance().Load() != 0)
    {
        printf("COM or KVResource.dll not available\n");
        return 1;
    }
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring path = std::wstring(temp) + L"ConfigBenchmark-" + std::to_wstring(GetCurrentProcessId()) + L".exe.config";

    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<configuration>\r\n\t<appSettings>\r\n";
    for (int i = 0; i < entries; ++i)
        xml += "\t\t<add key=\"Key" + std::to_string(i) + "\">\r\n\t\t\t<value>" + std::to_string(i * 7) +
               "</value>\r\n\t\t</add>\r\n";
    xml += "\t</appSettings>\r\n</configuration>\r\n";
    if (!WriteFileText(path, xml))
    {
        printf("cannot write %ls\n", path.c_str());
        return 1;
    }
    printf("entries: %d, file: %zu bytes\n", entries, xml.size());

    int result = 0;
    {
        CConfigurationEx config;
        double start = Now();
        const HRESULT loaded = config.LoadFile(path.c_str());
        printf("load:        %10.1f ms (0x%08lX)\n", Now() - start, static_cast<unsigned long>(loaded));

        // Lookups spread over the whole file, each timed alone for the median.
        std::vector<double> lookups;
        lookups.reserve(static_cast<size_t>(entries));
        long checksum = 0;
        int wrong = 0;
        start = Now();
        for (int i = 0; i < entries; ++i)
        {
            const int index = static_cast<int>((static_cast<long long>(i) * 7919) % entries);
            const std::wstring key = L"Key" + std::to_wstring(index);
            const double one = Now();
            const long value = config.GetNumber(key.c_str(), -1);
            lookups.push_back(Now() - one);
            checksum += value;
            if (value != index * 7)
                ++wrong;
        }
        const double lookupTotal = Now() - start;
        std::vector<double> sorted = lookups;
        std::sort(sorted.begin(), sorted.end());
        printf("%d GetValue: %10.1f ms, median %.3f ms, p90 %.3f ms, max %.3f ms, wrong %d\n", entries, lookupTotal,
               sorted[sorted.size() / 2], sorted[sorted.size() * 9 / 10], sorted.back(), wrong);
        // How a lookup's cost depends on where the entry sits in the file.
        for (int index : {0, entries / 2, entries - 1})
        {
            const std::wstring key = L"Key" + std::to_wstring(index);
            const double one = Now();
            for (int r = 0; r < 20; ++r)
                checksum += config.GetNumber(key.c_str(), -1);
            printf("  entry %5d: %.3f ms per lookup\n", index, (Now() - one) / 20);
        }

        start = Now();
        int values = 0;
        _CObjectExPtr<IObjectExEnumerator> walk = config.GetEnumerator();
        for (; walk && !walk->IsDone(); walk->Next())
            ++values;
        printf("enumerate:   %10.1f ms (%d values)\n", Now() - start, values);

        start = Now();
        for (int i = 0; i < 100; ++i)
        {
            const std::wstring key = L"Key" + std::to_wstring(i * (entries / 100 > 0 ? entries / 100 : 1));
            config.SetValue(key.c_str(), L"changed");
        }
        printf("100 SetValue:%10.1f ms\n", Now() - start);

        start = Now();
        const HRESULT saved = config.Save();
        printf("save:        %10.1f ms (0x%08lX)\n", Now() - start, static_cast<unsigned long>(saved));
        printf("(checksum %ld)\n", checksum);
        result = SUCCEEDED(loaded) && SUCCEEDED(saved) && wrong == 0 && values == entries ? 0 : 2;
    }
    DeleteFileW(path.c_str());
    CoUninitialize();
    return result;
}
