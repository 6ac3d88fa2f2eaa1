// The control of the DLL-planting test: a plain program that imports lz32.dll, as any program
// does that does not take care, so an lz32.dll planted beside it runs.
#include <windows.h>
#include <lzexpand.h>

int main()
{
    LZClose(-1);
    return 0;
}
