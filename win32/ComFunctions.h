#pragma once

// The COM and OLE entry points of ole32, loaded from the system folder at their first use instead
// of through the import table: the import table then names only the DLLs that every process
// loads, and a program pays for ole32 when it first needs it.

#include <windows.h>

#include <ole2.h>

struct ComFunctions {
    decltype(&OleInitialize) oleInitialize = nullptr;
    decltype(&OleUninitialize) oleUninitialize = nullptr;
    decltype(&CoInitialize) initialize = nullptr;
    decltype(&CoUninitialize) uninitialize = nullptr;
    decltype(&CoCreateInstance) createInstance = nullptr;
    decltype(&CoTaskMemFree) taskMemFree = nullptr;
};

// The table, made at the first call and kept, with ole32, for the life of the process, as an
// imported DLL is. An entry is null where ole32 or the function is missing.
const ComFunctions& Com();
