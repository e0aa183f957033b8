#include "cartlink/CCartUSBCommThread.h"

BOOL CCartUSBCommThread::LinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent)
{
    return transport ? transport->SetStopEvent(stopEvent) : TRUE;
}

void CCartUSBCommThread::UnlinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent)
{
    if (transport)
        transport->ClearStopEvent(stopEvent);
}
