/* A stand-in for a system DLL, planted beside a program by the DLL-planting test: loaded into a
 * process, it creates a file named after its own path with ".loaded" appended, and does nothing
 * else. */

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        static const wchar_t suffix[] = L".loaded";
        wchar_t path[MAX_PATH + sizeof(suffix) / sizeof(suffix[0])];
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcpyW(path + length, suffix);
            const HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, NULL);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}
