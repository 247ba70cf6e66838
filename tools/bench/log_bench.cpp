// log_bench: what the encrypted logs cost (tools/bench/run-bench.sh ROUNDS logs).
//
//   log_bench make FILE MB             writes a log of about MB megabytes of
//                                      virus-log records, as the writer makes them
//   log_bench append NAME              this process's first append to the log
//                                      NAME of the installation (the writer walks
//                                      the whole log once) and its next append
//                                      (it walks only what others added since)
//   log_bench cat KXLOGCAT FILE OUT    kxlogcat.exe printing FILE into OUT, a
//                                      file or the null device NUL
//
// Prints one line of key=value pairs.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/handles.h"
#include "logs/encrypted_log.h"

namespace {

double Now() {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void RecordText(unsigned n, char (&text)[128]) {
    std::snprintf(text, sizeof text, "2026-12-07 06:00:00|Test.Infected|C:\\bench\\data\\f%07u.txt|1|2", n);
}

int Make(const char* path, unsigned megabytes) {
    fw::UniqueFile file(::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 1;
    std::string out = "QMR!LOGS";
    const unsigned long long target = megabytes * 1000000ull;
    unsigned long long size = 0;
    unsigned records = 0;
    DWORD written = 0;
    while (size < target) {
        char text[128];
        RecordText(records++, text);
        uint8_t sealed[16 + 2048];
        int capacity = sizeof sealed;
        const int n = AriaEnCryptBuffer(kLogPassPhrase, reinterpret_cast<const uint8_t*>(text),
                                        static_cast<int>(std::strlen(text)), sealed, &capacity, nullptr);
        const uint32_t length = static_cast<uint32_t>(n - 8);
        out.append(reinterpret_cast<const char*>(&length), 4).append(reinterpret_cast<char*>(sealed) + 8, length);
        if (out.size() >= (1u << 20)) {
            if (!::WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr)) return 1;
            size += out.size();
            out.clear();
        }
    }
    if (!out.empty() && !::WriteFile(file.get(), out.data(), static_cast<DWORD>(out.size()), &written, nullptr)) return 1;
    std::printf("mode=make bytes=%llu records=%u\n", size + out.size(), records);
    return 0;
}

int Append(const char* name) {
    char text[128];
    RecordText(0, text);
    const double start = Now();
    const int first = WriteEncryptedLogRecord(name, text);
    const double middle = Now();
    const int next = WriteEncryptedLogRecord(name, text);
    const double end = Now();
    std::printf("mode=append first_us=%.0f next_us=%.0f written=%d\n", (middle - start) * 1e6, (end - middle) * 1e6,
                first + next);
    return first && next ? 0 : 1;
}

int Cat(const char* kxlogcat, const char* log, const char* output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    fw::UniqueFile out(::CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    fw::UniqueFile in(::CreateFileA(log, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!out || !in || !::GetFileSizeEx(in.get(), &size)) return 1;
    char line[1100];
    std::snprintf(line, sizeof line, "\"%s\" \"%s\"", kxlogcat, log);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const double start = Now();
    if (!::CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return 1;
    fw::UniqueHandle child(process.hProcess), thread(process.hThread);
    ::WaitForSingleObject(child.get(), INFINITE);
    const double seconds = Now() - start;
    DWORD code = 1;
    ::GetExitCodeProcess(child.get(), &code);
    std::printf("mode=cat into=%s seconds=%.3f mb_per_s=%.1f exit=%lu\n", std::strcmp(output, "NUL") ? "file" : "nul",
                seconds, static_cast<double>(size.QuadPart) / 1e6 / seconds, code);
    return code == 0 ? 0 : 1;
}

int Usage() {
    std::fprintf(stderr, "Usage: log_bench make FILE MB | append NAME | cat KXLOGCAT FILE OUT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "make") == 0) return Make(argv[2], static_cast<unsigned>(std::atoi(argv[3])));
    if (argc == 3 && std::strcmp(argv[1], "append") == 0) return Append(argv[2]);
    if (argc == 5 && std::strcmp(argv[1], "cat") == 0) return Cat(argv[2], argv[3], argv[4]);
    return Usage();
}
