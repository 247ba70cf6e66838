// kxmodlist: the module lister that a 32-bit kxscan.exe runs on 64-bit
// Windows, where it cannot list the modules of 64-bit processes itself.
// Built 64-bit and installed beside kxscan.exe. Prints, for every process it
// can open, one line per module, "<process id><TAB><path>" (in the system's
// ANSI code page), then "end" once it has listed everything it could (the
// reader knows a cut output by its missing "end"). Exit code 0, or 1 when
// the output could not be written whole.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "framework/handles.h"
#include "scan/module_list.h"

namespace {

bool ListModules(DWORD id, FILE* out) {
    fw::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process) return true;
    static HMODULE modules[kMaxModules];
    DWORD needed = 0;
    bool written = true;
    if (::EnumProcessModulesEx(process.get(), modules, sizeof(modules), &needed, LIST_MODULES_ALL)) {
        DWORD count = needed / sizeof(HMODULE);
        if (count > kMaxModules) count = kMaxModules;
        for (DWORD index = 0; index < count && written; ++index) {
            char name[kListedPathSize];
            if (::GetModuleFileNameExA(process.get(), modules[index], name, sizeof(name)) == 0) continue;
            written = std::fprintf(out, "%lu\t%s\n", id, name) > 0;
        }
    }
    return written;
}

}  // namespace

int main() {
    for (DWORD id = kFirstProcessId; id < kProcessIdLimit; id += 4)
        if (!ListModules(id, stdout)) return 1;
    return std::fprintf(stdout, "end\n") > 0 && std::fflush(stdout) == 0 ? 0 : 1;
}
