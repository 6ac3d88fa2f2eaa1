// The control of the DLL-planting test: a plain program that imports version.dll, as any program
// does that does not take care, so a version.dll planted beside it runs.
#include <windows.h>

int main(int argc, char** argv)
{
    DWORD handle = 0;
    return argc > 0 && GetFileVersionInfoSizeA(argv[0], &handle) > 0 ? 0 : 1;
}
