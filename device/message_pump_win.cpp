#include "device/message_pump_win.h"

#include <windows.h>

void PumpSentMessages(uint32_t milliseconds) {
    const DWORD woke = MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds, QS_SENDMESSAGE);
    if (woke == WAIT_OBJECT_0) {
        // Peeking delivers the pending sent messages; with PM_QS_SENDMESSAGE
        // nothing else is taken out of the queue.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
