#pragma once
// Small helpers every part of the scenario driver uses: bounded waits, unique names and
// readable text for assertion messages.
#include "common/CStringEx.h"
#include <functional>
#include <string>

// Polls the condition every few milliseconds until it holds or `boundMs` has passed,
// dispatching the calling thread's window messages meanwhile (a test that owns windows
// keeps them answering). TRUE when the condition held; it is checked once more at the end.
bool ScenarioWaitFor(const std::function<bool()>& condition, DWORD boundMs);

// A name no other process of the machine uses: the prefix and a new GUID. Wine hands out
// process IDs again quickly, so names made of the process ID and the time can collide.
CStringEx ScenarioUniqueName(LPCWSTR prefix);

// UTF-8 text of a wide string, for assertion messages and narrow output.
std::string ScenarioUtf8(LPCWSTR text);

// folder\name.
CStringEx ScenarioPath(LPCWSTR folder, LPCWSTR name);

// The folder of the running program (where the build puts every program and library).
CStringEx ScenarioProgramFolder();
