#pragma once
// Where the program lets Windows look for DLLs: only in the system folder.
// A DLL planted beside the program (a portable copy in the Downloads folder,
// say) under the name of a system DLL is never loaded in its place.

// Restricts every later load of a DLL by name in this process (LoadLibrary,
// delay loads, the loads the system's own DLLs make) to the system folder.
// Called first thing in the program.  The DLLs the program imports directly
// are loaded before it runs: all of them are known DLLs, which Windows takes
// from the system folder only, except the common controls, which come from
// the side-by-side store through the program's manifest.
void LoadDllsOnlyFromTheSystemFolder();
