// Where the programs let the system look for DLLs they load after start-up.
#pragma once

namespace velotune {

// Takes the current directory out of the DLL search and, on the NT family
// where the system has SetDefaultDllDirectories, limits every later load
// without a full path to the system folder. Call it first thing in the program.
void HardenDllSearch();

} // namespace velotune
