// The entry point of a program built on the framework. Kept apart (linked as
// an object library) so that libraries never carry it and the linker does not
// have to find the entry point in an archive.
#include "hkb/app.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int nCmdShow) {
  return hkb::framework::RunProgram(hInstance, nCmdShow);
}
