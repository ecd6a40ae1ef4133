// The end-to-end driver: GoogleTest scenarios that start the installer and look at it from outside.

#include <windows.h>

#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>

#include "DriverOptions.h"

int wmain(int argc, wchar_t** argv) {
    // Screen coordinates in physical pixels on Windows too; Wine already works so and refuses the
    // call, which does not matter here.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    // A reader's requests to another process go through COM, from a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    testing::InitGoogleTest(&argc, argv);
    try {
        e2e::SetOptions(e2e::ParseDriverOptions(argc, argv));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "e2e driver: %s\n", error.what());
        return 2;
    }
    return RUN_ALL_TESTS();
}
