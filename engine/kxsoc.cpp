// placeholder, being written
#include "engine/scan_engine.h"

LONG WINAPI ScanFile(const char*, DWORD, DWORD, char*, LONG*, const FILETIME*, DWORD) { return 0; }
