#pragma once
// The benchmark commands of KelvoDemo.exe that look at the agent's resources; each prints
// through the sink and returns the program's exit code.
#include <functional>
#include <string>

using SoakSink = std::function<void(const std::string&)>;

// --soak [N]: N press-to-grant cycles (CSoakRun); 0 when the soak's goal was met.
int SoakCommand(int cycles, const SoakSink& say);
// --memory: where the idle agent's committed private memory goes (CProcessMemoryMap).
int MemoryMapCommand(const SoakSink& say);
