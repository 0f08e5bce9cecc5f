// The exports of libsarquen.so: each one calls the session code and lets nothing escape.
#include "capture/common/log.h"
#include "capture/sarquen/sarquen.h"
#include "capture/sarquen/session.h"

#define ZV_EXPORT __attribute__((visibility("default")))

namespace {

template <typename F, typename R>
R Guarded(const char* name, R on_failure, F&& f) {
  try {
    return f();
  } catch (const std::exception& e) {
    zv::capture::AppendCaptureLog(std::string(name) + " failed: " + e.what());
  } catch (...) {
    zv::capture::AppendCaptureLog(std::string(name) + " failed");
  }
  return on_failure;
}

}  // namespace

extern "C" {

ZV_EXPORT ZvCaptureSession OpenMkExe(const char* document_name, const void* devmode) {
  return Guarded("OpenMkExe", ZvCaptureSession{0}, [&] { return zv::capture::OpenSession(document_name, devmode); });
}

ZV_EXPORT ZvCaptureSession InitEMF(const char* document_name, const void* devmode) {
  return OpenMkExe(document_name, devmode);
}

ZV_EXPORT int AddEmf(ZvCaptureSession session, const char* path) {
  return Guarded("AddEmf", 1, [&] { return zv::capture::AddEmfPage(session, path); });
}

ZV_EXPORT int SetDIB(ZvCaptureSession session, const char* path) {
  return Guarded("SetDIB", 1, [&] { return zv::capture::SetDibPage(session, path); });
}

ZV_EXPORT int SetEmf(ZvCaptureSession session, const char* path, std::uint32_t limit) {
  return Guarded("SetEmf", 1, [&] { return zv::capture::SetEmfPages(session, path, limit); });
}

ZV_EXPORT int OutEMF(const ZvOutEmfRecord* record) {
  return Guarded("OutEMF", 0, [&] { return zv::capture::OutEmfPage(record); });
}

ZV_EXPORT int EndEMF(ZvCaptureSession session) {
  return Guarded("EndEMF", 0, [&] { return zv::capture::EndSession(session); });
}

}  // extern "C"
