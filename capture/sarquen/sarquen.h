// The capture library libsarquen.so: the exports a print processor (on Linux the feeder)
// calls to turn a print job's pages into a capture file, and the binary interface of the
// converter modules the capture library loads for conversion slots. Nothing throws across
// these functions; failures inside a page call are remembered in the job's session and acted
// on by EndEMF (a line in $ZELVORA_ROOT/log/capture.log, the capture file kept for the user).
#pragma once

#include <cstdint>

#include "capture/lumbrel/lumbrel.h"

extern "C" {

// A job's session: a 32-bit id from the library's table, 0 for none.
typedef std::uint32_t ZvCaptureSession;

// The 36-byte page record of OutEMF; it is written unchanged behind the page as its trailer.
struct ZvOutEmfRecord {
  std::uint32_t size;         // the print processor's own (36)
  std::uint32_t session;      // the job's session
  std::uint32_t metafile;     // the page's metafile handle (platform/gdi/handles)
  std::uint32_t paper_code;   // DMPAPER value
  std::uint32_t orientation;  // 2 = landscape
  std::uint32_t width;        // 0.1 mm
  std::uint32_t length;       // 0.1 mm
  std::uint32_t extra1;
  std::uint32_t extra2;
};

// OpenMkExe: takes the job's document name (CP932, NUL-terminated) and its device mode (a
// DEVMODEA of dmSize bytes); opens a capture file and gives the session, or 0 on any failure
// (reported in the capture log, the notice file and the status window).
ZvCaptureSession OpenMkExe(const char* document_name, const void* devmode);
// InitEMF: the same as OpenMkExe.
ZvCaptureSession InitEMF(const char* document_name, const void* devmode);
// AddEmf: takes a session and the path of a file holding one metafile; stores the page.
// Gives 0 for an unknown session, else 1.
int AddEmf(ZvCaptureSession session, const char* path);
// SetDIB: takes a session and the path of a BMP file; stores the bitmap as one page. Gives 0
// for an unknown session or a session closed to input, else 1.
int SetDIB(ZvCaptureSession session, const char* path);
// SetEmf: takes a session, the path of a file holding metafile pages and a page limit (0 =
// all); stores the pages. Gives 0 for an unknown session, else 1.
int SetEmf(ZvCaptureSession session, const char* path, std::uint32_t limit);
// OutEMF: takes a page record; stores its metafile and the record behind it. Gives 1 when
// the record or its session is unknown, else 0.
int OutEMF(const ZvOutEmfRecord* record);
// EndEMF: takes a session; finishes the job (hand-over to the client, conversion, or the
// report of what failed) and frees the session. Gives 1 for an unknown session, else 0.
int EndEMF(ZvCaptureSession session);

// The converter modules' interface is the conversion library's (capture/lumbrel/lumbrel.h):
// one definition, so the capture library calls a module's converter through exactly the
// type the module defines it with.
typedef ZvConverter ZvConverterFunction;
typedef int32_t (*ZvGetConvInfFunction)(uint32_t type, char* filter, ZvConverter* converter);

}  // extern "C"
