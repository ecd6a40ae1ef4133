#include "SystemError.h"

#include <windows.h>

void RaiseLastSystemError() {
    throw SystemError(GetLastError());
}
