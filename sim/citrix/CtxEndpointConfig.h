#pragma once
#include <windows.h>
#include <string>
#include <vector>

// The endpoint the stand-in plays, read afresh at every call from a key=value file: the file
// named by the environment variable KELVO_CITRIX_ENDPOINT, or wfapi64.ini beside the DLL.
// Lines starting with '#' or ';' are comments. Keys:
//   ClientName=<name>     the endpoint's name; absent or empty: not an ICA session, the
//                         client-name query fails
//   Channel=<name>        the virtual channel the endpoint's driver serves; absent: no driver,
//                         every open fails
//   PacketSize=<n>        the packet size in the client data (byte offset 48); -1: the client
//                         data query fails; default 1024
//   ClientDataSize=<n>    bytes of client data returned; default 64
//   Reply=<hex bytes>     the packet the endpoint sends back for each packet written; absent:
//                         it never answers
//   ReplyDelayMs=<n>      how long after the write the reply arrives; default 0
//   ReadError=<n>         every read fails with this last error (0: fails with no error code)
//   Trace=<path>          appends one line per call, for tests and the demo to inspect
struct CtxEndpointConfig
{
    std::wstring clientName;
    std::string channel;
    int packetSize = 1024;
    int clientDataSize = 64;
    bool hasReply = false;
    std::vector<BYTE> reply;
    DWORD replyDelayMs = 0;
    bool hasReadError = false;
    DWORD readError = 0;
    std::wstring tracePath;

    static CtxEndpointConfig Read();
};

// Appends one line to the trace file, when one is configured.
void CtxTrace(const char* format, ...);
