#pragma once
// The scenario driver: runs the real KelvoAgent.exe under Wine against the simulated cart
// and drives it from outside, for whole-program tests and the demo.
//
// A scenario, in order:
//   CCartSimProcess cart;                       // KelvoCartSim.exe on a new unique pipe
//   cart.Start();
//   CScenarioFolder folder;                     // scratch folder: agent, KVResource, stand-ins,
//                                               // and Wine's per-program override cfgmgr32,hid=n,b
//   folder.Create();
//   folder.SetHidDevices({{cart.GetDevicePath(), cart.GetVendorId(), cart.GetProductId()}});
//   folder.WriteConfig({{IDS_CFG_CART_HARDWARE_IDS, {folder.HardwareId(cart.GetVendorId(), cart.GetProductId())}},
//                       {IDS_CFG_LOG_LEVEL, {L"5"}}});
//   CAgentLog log(folder);                      // marks the end of today's agent log
//   CAgentProcess agent;
//   agent.Start(folder);                        // loads the stand-ins beside it
//   agent.WaitForWindow(15000);
//   agent.WaitForConnected(1, 10000);           // status text 1015
//   cart.Remove(); agent.SendDeviceRemoval(cart.GetDevicePath());
//   ...
//   agent.StopWithSwitch();                     // second start with the stop switch
//
// Wine sends neither session notifications nor device broadcasts for the simulated cart:
// the scenario delivers them (CAgentProcess::PostSessionChange, SendDeviceArrival,
// SendDeviceRemoval). Message boxes block under Wine: answer them with CMessageBoxAnswerer.
// The agent allows one instance per session and all agents log into one file per day, so
// ctest runs whole-program tests with RESOURCE_LOCK KelvoAgentSession, one at a time.
// Every wait has a bound; every failure leaves a readable text in GetErrorText().
// Declare the folder before the processes that run from it: objects go in reverse order, so
// the programs are ended before their folder is deleted.
#include "sim/driver/CAgentLog.h"
#include "sim/driver/CAgentProcess.h"
#include "sim/driver/CCartSimProcess.h"
#include "sim/driver/CMessageBoxAnswerer.h"
#include "sim/driver/CScenarioFolder.h"
#include "sim/driver/ScenarioStandIns.h"
#include "sim/driver/ScenarioWait.h"
