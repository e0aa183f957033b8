#pragma once
#include "cartlink/CCommThread.h"

// The comm thread bound to a cart transport: while a worker runs, the transport waits on
// the worker's stop event in every exchange.
class CCartUSBCommThread : public CCommThread
{
protected:
    BOOL LinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent) override;
    void UnlinkTransport(CCartUSBComm* transport, const CEventEx& stopEvent) override;
};
