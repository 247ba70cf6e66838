#include <windows.h>

#include "main/scanner_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return TheApp().Run(instance); }
