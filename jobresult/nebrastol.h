// libnebrastol: how a print job ended on a printer driven through a printer-language
// monitor, read from the monitor's job log. One export, plain C, no state between calls.
//
// The log is the file named by the REG_SZ value "LogFileName" of the machine key
// "SOFTWARE\Kandrel\Tessaly-PrtLog", or "BrovPrt.Log" in $ZELVORA_ROOT/system (the system
// folder) when the key or the value does not exist.
#pragma once

#include <cstdint>

extern "C" {

// Takes a document name (compared exactly with the log's), a job id, the submission date
// (year << 16 | month << 8 | day) and time (hour << 24 | minute << 16 | second << 8) and
// three out pointers. Finds the latest log record of that name and job id not older than
// the given time. Gives 0 (found: *value1 and *value3 get the record's first and third
// values, *status its mapped printer status), 2 (a missing argument; last error 87), 4 (no
// log, an empty log or no such record), 900 (out of memory) or 999 (last error 10 when the
// file is not a log or a record cannot be read, else the system's code, e.g. 32 while the
// monitor holds the log). The outputs change only on 0. The thread's last error
// (ZvGetLastError, platform/lasterror) is set on every return.
std::uint32_t BrovGetPrintJobResult(const char* document, std::uint32_t job_id, std::uint32_t date, std::uint32_t time,
                                    std::uint32_t* value1, std::uint32_t* status, std::uint32_t* value3);
}
