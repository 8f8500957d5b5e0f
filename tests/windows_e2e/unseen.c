/* Runs a command in a window station that no one sees, as Windows runs the programs of a
 * service, or of SYSTEM in session 0, with this program's standard handles, and exits with the
 * command's exit status (120 and up: it could not be started). */
#include <windows.h>

#include <stdio.h>

int wmain(void) {
    HWINSTA own = GetProcessWindowStation();
    HWINSTA unseen = CreateWindowStationW(L"SorvelUnseen", 0, WINSTA_ALL_ACCESS, NULL);
    if (unseen == NULL || !SetProcessWindowStation(unseen)) {
        fprintf(stderr, "unseen: no window station (%lu)\n", GetLastError());
        return 120;
    }
    HDESK desktop = CreateDesktopW(L"Default", NULL, NULL, 0, GENERIC_ALL, NULL);
    SetProcessWindowStation(own);
    if (desktop == NULL) {
        fprintf(stderr, "unseen: no desktop (%lu)\n", GetLastError());
        return 121;
    }

    /* The command: this program's command line after its own name. */
    wchar_t* command = GetCommandLineW();
    if (*command == L'"') {
        command = wcschr(command + 1, L'"');
        command = command != NULL ? command + 1 : L"";
    } else {
        while (*command != L'\0' && *command != L' ' && *command != L'\t') ++command;
    }
    while (*command == L' ' || *command == L'\t') ++command;

    STARTUPINFOW startup = {0};
    startup.cb = sizeof startup;
    startup.lpDesktop = L"SorvelUnseen\\Default";
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process;
    if (!CreateProcessW(NULL, command, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "unseen: the command did not start (%lu)\n", GetLastError());
        return 122;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 123;
    GetExitCodeProcess(process.hProcess, &status);
    return (int)status;
}
