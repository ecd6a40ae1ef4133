#include "win32/ComFunctions.h"

#include "win32/SystemLibrary.h"

const ComFunctions& Com() {
    static const SystemLibrary ole32(L"ole32.dll");
    static const ComFunctions functions{
        ole32.Procedure<decltype(&OleInitialize)>("OleInitialize"),
        ole32.Procedure<decltype(&OleUninitialize)>("OleUninitialize"),
        ole32.Procedure<decltype(&CoInitialize)>("CoInitialize"),
        ole32.Procedure<decltype(&CoUninitialize)>("CoUninitialize"),
        ole32.Procedure<decltype(&CoCreateInstance)>("CoCreateInstance"),
        ole32.Procedure<decltype(&CoTaskMemFree)>("CoTaskMemFree"),
    };
    return functions;
}
