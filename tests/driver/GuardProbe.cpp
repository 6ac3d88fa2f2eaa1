// Runs the running-instance guard in a process of its own, so that a test can see from outside
// what the guard leaves behind while its process lives.
//
//   GuardProbe.exe install|uninstall READY-EVENT-NAME QUIT-EVENT-NAME
//
// Sets the ready event when the guard has returned, then waits for the quit event (at most a
// minute) and exits with 1 when the guard returned true, 0 when it returned false.
#include "driver/RunningInstanceGuard.h"

#include <string.h>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    HANDLE quit = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (ready == nullptr || quit == nullptr)
        return 3;
    GuardMode mode = strcmp(argv[1], "uninstall") == 0 ? GuardMode::Uninstall : GuardMode::Install;
    bool result = WaitForProductExit(nullptr, mode);
    SetEvent(ready);
    WaitForSingleObject(quit, 60000);
    return result ? 1 : 0;
}
