// The baseline of the start-up benchmark: a Windows GUI program that does
// nothing and ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
