#pragma once
// The HID and configuration-manager declarations the cart link uses. hidsdi.h has no
// C linkage of its own, so it is wrapped here once.
#include <windows.h>
#include <cfgmgr32.h>
extern "C" {
#include <hidsdi.h>
}
