// Starts like a program of the system: logging on at level 2 (errors), then the satellite
// resource library is looked for beside the probe, in the locale folder and in 1033. What
// the program would have shown and where the library came from go to a report file.
//
//   KelvoResourceProbe.exe <report file> <log file-name prefix>
//
// Exit code: the result of CResourceLoader::Load.
#include "common/CResourceLoader.h"
#include "common/CUtilLogging.h"
#include "resources/KVIdsLogging.h"
#include "resources/ProgramStrings.h"
#include <cstdio>
#include <memory>

namespace
{
CStringEx g_boxText;
CStringEx g_boxCaption;

int RecordBox(HWND, LPCWSTR text, LPCWSTR caption, UINT, DWORD)
{
    g_boxText = text;
    g_boxCaption = caption;
    return IDOK;
}

struct FileCloser
{
    void operator()(FILE* file) const { fclose(file); }
};

// Report values are single lines: line breaks are written as \n.
CStringEx OneLine(const CStringEx& text)
{
    CStringEx out;
    for (int i = 0; i < text.GetLength(); ++i)
        out += text.GetAt(i) == L'\n' ? CStringEx(L"\\n") : CStringEx(text.Mid(i, 1));
    return out;
}
}

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
    {
        fwprintf(stderr, L"usage: KelvoResourceProbe <report file> <log prefix>\n");
        return ERROR_INVALID_PARAMETER;
    }
    CUtilLogging& log = CUtilLogging::Instance();
    const HRESULT logStart = log.Initialize(2, 0, argv[2], FOLDERID_LocalAppData);

    CResourceLoader& loader = CResourceLoader::Instance();
    CResourceLoader::SetMessageBoxHook(&RecordBox);
    const DWORD result = loader.Load();
    CStringEx folder, name;
    CResourceLoader::GetModulePath(folder, name, FALSE);
    if (result != 0)
        loader.MessageBoxRes(nullptr, result == 425 ? IDS_PROG_RESOURCE_FILE_OLDER : IDS_PROG_NO_RESOURCE_FILE, name,
                             MB_OK | MB_ICONSTOP, 0);

    CStringEx logFolder;
    loader.LoadString(IDS_LOG_FOLDER_NAME, logFolder);
    std::unique_ptr<FILE, FileCloser> report(_wfopen(argv[1], L"wt"));
    if (!report)
        return ERROR_CANNOT_MAKE;
    CStringEx text;
    text.Format(L"result=%u\nlocale=%u\nlibrary=%s\nversion=%s\nbox=%s\ncaption=%s\nstring543=%s\n"
                L"logstart=0x%08lx\nlog=%s\n",
                static_cast<unsigned>(result), static_cast<unsigned>(loader.GetLocale()),
                loader.GetLibraryPath().GetString(), loader.GetLibraryVersion().GetString(),
                OneLine(g_boxText).GetString(), g_boxCaption.GetString(), logFolder.GetString(),
                static_cast<unsigned long>(logStart), log.GetFilePath().GetString());
    fputws(text, report.get());
    return static_cast<int>(result);
}
