// A program that carries the resources and does nothing else: the resource checks read it while
// the updater itself is not linked, and it shows what the link options make of a bare program.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return 0;
}
