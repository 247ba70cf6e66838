// The virus log (one record per finding outcome) and the event log (one per
// scan), with their registry counters and stamps and the plain virus list.
#pragma once

#include <windows.h>

// Action codes of a virus-log record.
constexpr int kActionUncured = 0;     // left uncured when the window closed
constexpr int kActionCured = 1;
constexpr int kActionDeleted = 2;
constexpr int kActionCureFailed = 3;

// Source code of every record this program writes.
constexpr unsigned kSourceScanner = 2;

// Time-stamps the formatted payload and appends it to `logName`.
int WriteLogRecord(const char* logName, const char* format, ...) __attribute__((format(printf, 2, 3)));

// One finding outcome: virus.log record, access counter, log_virus stamp and,
// on agent installations, a line of the plain virus list.
void RecordVirus(const char* name, const char* path, int action, unsigned source);

// One scan: events.log record and log_events stamp.
void RecordEvent(const char* text);
