#include "message_pump.h"

namespace standin {

void Pump(DWORD durationMs, HANDLE until) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < durationMs) {
        DWORD wait = MsgWaitForMultipleObjects(until != nullptr ? 1 : 0, &until, FALSE,
                                               durationMs - (GetTickCount() - start), QS_ALLINPUT);
        if (until != nullptr && wait == WAIT_OBJECT_0) {
            return;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

} // namespace standin
