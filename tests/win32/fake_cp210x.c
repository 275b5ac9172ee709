/* A stand-in for Silicon Labs' CP210xRuntime.dll in the Wine suite: it keeps a latch of
   its own and logs every latch write ("W mask latch", hexadecimal) into the file named by
   FAKE_CP210X_LOG. Built twice: whole, and without CP210xRT_GetDeviceSerialNumber (as a
   broken installation would be). */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static WORD latch = 0xFF;

__declspec(dllexport) int WINAPI CP210xRT_GetPartNumber(HANDLE port, BYTE* part) {
    (void)port;
    *part = 3;
    return 0;
}

__declspec(dllexport) int WINAPI CP210xRT_ReadLatch(HANDLE port, WORD* value) {
    if (port == NULL || port == INVALID_HANDLE_VALUE) return 1;
    *value = latch;
    return 0;
}

__declspec(dllexport) int WINAPI CP210xRT_WriteLatch(HANDLE port, WORD mask, WORD value) {
    if (port == NULL || port == INVALID_HANDLE_VALUE) return 1;
    latch = (WORD)((latch & ~mask) | (value & mask));
    const char* path = getenv("FAKE_CP210X_LOG");
    FILE* log = path ? fopen(path, "ab") : NULL;
    if (log) {
        fprintf(log, "W %02X %02X\n", mask, value);
        fclose(log);
    }
    return 0;
}

__declspec(dllexport) int WINAPI CP210xRT_GetDeviceProductString(HANDLE port, void* text, BYTE* length, BOOL ascii) {
    (void)port, (void)text, (void)ascii;
    *length = 0;
    return 0;
}

#ifndef WITHOUT_SERIAL_NUMBER
__declspec(dllexport) int WINAPI CP210xRT_GetDeviceSerialNumber(HANDLE port, void* text, BYTE* length, BOOL ascii) {
    (void)port, (void)text, (void)ascii;
    *length = 0;
    return 0;
}
#endif
