#include "cartlink/CCartUSBCommThread.h"

void CCartUSBCommThread::LinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent)
{
    if (transport)
        transport->SetStopEvent(stopEvent);
}

void CCartUSBCommThread::UnlinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent)
{
    if (transport)
        transport->ClearStopEvent(stopEvent);
}
