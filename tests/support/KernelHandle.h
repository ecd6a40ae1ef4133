#pragma once

#include <windows.h>

#include "win32/Handles.h"

// A kernel object's handle (a process, a thread, an event), closed with CloseHandle. Null is the
// empty value: the calls that fail with INVALID_HANDLE_VALUE instead (files) need another owner.
using KernelHandle = UniqueHandle<HANDLE, CloseHandle>;
