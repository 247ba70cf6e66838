#include "logs/log_records.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/registry.h"
#include "app/startup.h"
#include "logs/debug_log.h"
#include "logs/encrypted_log.h"

namespace {

constexpr size_t kRecordSize = 2048;
constexpr size_t kVirusPayloadSize = 779;  // at most 778 characters
constexpr size_t kCounterNameSize = 779;

// Process-wide: the plain virus list beside the program file, built once.
char g_plainListPath[260];

bool Fits(int length, size_t size) { return length >= 0 && static_cast<size_t>(length) < size; }

// `logs\virus.html` in the program file's folder; stays empty when the
// program's path has no folder or the result would not fit.
void BuildPlainListPath() {
    char program[sizeof(g_plainListPath)];
    DWORD length = ::GetModuleFileNameA(nullptr, program, sizeof(program));
    if (length == 0 || length >= sizeof(program)) return;
    char* slash = std::strrchr(program, '\\');
    if (!slash) return;
    slash[1] = '\0';
    if (!Fits(std::snprintf(g_plainListPath, sizeof(g_plainListPath), "%slogs\\virus.html", program),
              sizeof(g_plainListPath)))
        g_plainListPath[0] = '\0';
}

// One line of the plain list for agent installations, serialised with the
// product's other writers by the list's lock file. The "logs" folder is
// theirs to create: without it the line is dropped.
void AppendPlainList(int shortLength, const char* shortName, const char* path, int action, unsigned source) {
    if (g_plainListPath[0] == '\0') BuildPlainListPath();
    if (g_plainListPath[0] == '\0') return;
    char lockPath[sizeof(g_plainListPath) + 8];
    std::snprintf(lockPath, sizeof(lockPath), "%s.lock", g_plainListPath);
    int lock = OpenLockFile(lockPath);
    if (lock == -1) return;
    if (FILE* list = std::fopen(g_plainListPath, "at")) {
        SYSTEMTIME now;
        ::GetLocalTime(&now);
        std::fprintf(list, "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d|%.*s|%s|%d|%u\n", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, shortLength, shortName, path, action, source);
        std::fclose(list);
    }
    CloseLockFile(lock);
}

}  // namespace

int WriteLogRecord(const char* logName, const char* format, ...) {
    if (!format) return 0;
    char payload[kRecordSize];
    va_list args;
    va_start(args, format);
    int payloadLength = std::vsnprintf(payload, sizeof(payload), format, args);
    va_end(args);
    if (payloadLength < 0) return 0;

    // A record cut to the buffer is longer than a record may be, so the
    // container drops it rather than logging half of it.
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    char record[kRecordSize];
    int stampLength = std::snprintf(record, sizeof(record), "%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d", now.wYear,
                                    now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    if (!Fits(stampLength, sizeof(record))) return 0;
    std::snprintf(record + stampLength, sizeof(record) - stampLength, "%s", payload);
    return WriteEncryptedLogRecord(logName, record);
}

void RecordVirus(const char* name, const char* path, int action, unsigned source) {
    if (!name || name[0] == '\0') return;
    if (!path) path = "";

    char payload[kVirusPayloadSize];
    std::snprintf(payload, sizeof(payload), "|%s|%s|%d|%u", name, path, action, source);
    WriteLogRecord("virus.log", "%s", payload);

    const char* blank = std::strchr(name, ' ');
    const size_t nameLength = blank ? static_cast<size_t>(blank - name) : std::strlen(name);
    const int shortLength = static_cast<int>(nameLength < INT_MAX ? nameLength : INT_MAX);

    // A counter name cut to its buffer would count under a name that is not
    // this outcome's (its action or source lost): such an outcome is not counted.
    char counterName[kCounterNameSize];
    const bool counted =
        Fits(std::snprintf(counterName, sizeof(counterName), "%.*s|%u|%d", shortLength, name, source, action),
             sizeof(counterName));
    DWORD count = 0;
    if (counted) {
        ReadRegDword(HKEY_LOCAL_MACHINE, kAccessKey, counterName, &count);
        if (count != MAXDWORD) ++count;
    }
    WriteRegDword(HKEY_LOCAL_MACHINE, kStatusKey, "log_virus", ::GetTickCount());
    if (counted) WriteRegDword(HKEY_LOCAL_MACHINE, kAccessKey, counterName, count);

    if (ProcessOptions().agentType != 0) AppendPlainList(shortLength, name, path, action, source);
}

void RecordEvent(const char* text) {
    if (!text) return;
    WriteLogRecord("events.log", "|%s", text);
    WriteRegDword(HKEY_LOCAL_MACHINE, kStatusKey, "log_events", ::GetTickCount());
}
