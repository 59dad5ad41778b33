// The library's rotating log file. Every function is safe to call from any thread and
// is a no-op while the log is closed (before openLog, after shut-down), so the exports
// work without a log.
#pragma once

#include <QString>

namespace tessivar::log {

// Opens (or replaces) the log "<dir>/vorixOptical.log": 10 MiB per file, 10 rotated
// files kept, a fresh file at every open. dir null or empty means ".".
void Open(const char* dir);

// One line at the given level. For deviceId > 0 the message is prefixed "<id> ".
void Info(const QString& text, int deviceId = 0);
void Warn(const QString& text, int deviceId = 0);
void Error(const QString& text, int deviceId = 0);

// Writes out buffered lines; nothing happens while the log is closed.
void Flush();

// Closes the log file (flushing it) and drops the logger.
void Shutdown();

bool IsOpen();

// Upper-case hexadecimal byte pairs separated by single spaces ("00 11 AA").
QString HexDump(const unsigned char* data, int size);

}  // namespace tessivar::log
