// Where the programs let the system look for DLLs they load after start-up.
#pragma once

namespace velotune {

// Where later loads by name may come from.
enum class DllSearch {
    SystemFolder,           // the system folder only (an elevated program)
    ProgramAndSystemFolder, // the program's own folder, then the system folder
};

// Takes the current directory out of the DLL search and, on the NT family
// where the system has SetDefaultDllDirectories, limits every later load
// without a full path to the given folders. Call it first thing in the program.
void HardenDllSearch(DllSearch scope);

} // namespace velotune
