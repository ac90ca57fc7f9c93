#pragma once
// The library service: libraries loaded at run time and named through
// LibraryTable, their functions found by name and called with one argument.
#include <cstdint>

#include "runtime/object_table.h"

namespace dovemarl::runtime {

struct LibraryRecord {
    HMODULE module;
};

extern ObjectTable* LibraryTable;

void StartLibraryService();
// Frees every library still open.
void StopLibraryService();

// Loads fileName with LoadLibraryA; returns the record's handle for AnyNumber,
// the module handle for a slot number, or 0 (leaving no live object).
int32_t AttachLibrary(int32_t number, const char* fileName);
// The address of the library's export name, looked up afresh; null if none.
void* LibraryProc(int32_t library, const char* name);
// Calls the export with one 32-bit argument, as stdcall expects it, and
// returns its 32-bit result; 0 without calling anything when it is not found.
// An export that pops another number of bytes (cdecl, or stdcall with another
// argument count) returns normally too (see CallForeign).
int32_t CallLibraryProc(int32_t library, const char* name, int32_t argument);
// Frees the library and gives its record back; AnyNumber frees all of them.
void DetachLibrary(int32_t library);

} // namespace dovemarl::runtime
