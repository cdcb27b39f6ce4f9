// Windows side of the console: a console program started from the file
// manager gets a window of its own, which closes as soon as the program ends.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "platform/console.h"

namespace quarvel {

bool console_owned_alone() {
    DWORD mode = 0;
    // Redirected input or output means a script or another program started us.
    if (!::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) ||
        !::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode))
        return false;
    DWORD processes[2];
    return ::GetConsoleProcessList(processes, 2) == 1;
}

void wait_for_key(std::ostream& console) {
    console << "Press any key to close this window.\n";
    console.flush();
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    // Keys pressed while the tool ran do not count.
    ::FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!::ReadConsoleInputW(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

}  // namespace quarvel
