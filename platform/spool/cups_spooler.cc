#include "platform/spool/cups_spooler.h"

#include <cups/cups.h>
#include <cups/pwg.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>

#include "platform/spool/media.h"

namespace zv::spool {

namespace fs = std::filesystem;

namespace {

// Owning wrappers of the libcups objects.
struct HttpCloser {
  void operator()(http_t* h) const { httpClose(h); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;
struct IppDeleter {
  void operator()(ipp_t* i) const { ippDelete(i); }
};
using Ipp = std::unique_ptr<ipp_t, IppDeleter>;

Result<Http> Connect(const std::string& server) {
  std::string host = server.empty() ? cupsServer() : server;
  int port = ippPort();
  if (!host.empty() && host[0] != '/') {
    // "host:port" (an IPv6 literal keeps its colons inside brackets).
    auto colon = host.rfind(':');
    if (colon != std::string::npos && host.find(']', colon) == std::string::npos) {
      port = std::atoi(host.c_str() + colon + 1);
      host.resize(colon);
    }
  }
  http_t* h = httpConnect2(host.c_str(), port, nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
  if (!h) return Status::IOError("cannot reach the print server at " + host);
  return Http(h);
}

std::string PrinterUri(const std::string& name) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                   name.c_str());
  return uri;
}

bool ValidQueueName(const std::string& name) {
  // The server's own rule for queue names (at most 127 bytes, no spaces, '/' or '#'); a name
  // breaking it cannot be a queue, and refusing it keeps it out of the printer URI.
  if (name.empty() || name.size() > 127) return false;
  for (unsigned char c : name) {
    if (c <= ' ' || c == '/' || c == '#' || c == 127) return false;
  }
  return true;
}

Status IppError(const std::string& what) {
  ipp_status_t st = cupsLastError();
  std::string msg = what + ": " + cupsLastErrorString();
  if (st == IPP_STATUS_ERROR_NOT_FOUND) return Status::NotFound(msg);
  if (st == IPP_STATUS_ERROR_NOT_POSSIBLE || st == IPP_STATUS_ERROR_NOT_ACCEPTING_JOBS) {
    return Status::Busy(msg);
  }
  return Status::IOError(msg);
}

// Sends a request and gives its answer; a failing status is an error.
Result<Ipp> Send(http_t* http, ipp_t* request, const std::string& what) {
  ipp_t* answer = cupsDoRequest(http, request, "/");
  Ipp owned(answer);
  if (!answer || cupsLastError() > IPP_STATUS_OK_CONFLICTING) return IppError(what);
  return owned;
}

std::string Text(ipp_t* ipp, const char* name) {
  ipp_attribute_t* a = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
  if (!a) return {};
  const char* s = ippGetString(a, 0, nullptr);
  return s ? s : "";
}
int Integer(ipp_t* ipp, const char* name, int fallback) {
  ipp_attribute_t* a = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
  if (!a) return fallback;
  ipp_tag_t tag = ippGetValueTag(a);
  if (tag != IPP_TAG_INTEGER && tag != IPP_TAG_ENUM && tag != IPP_TAG_BOOLEAN) return fallback;
  return tag == IPP_TAG_BOOLEAN ? ippGetBoolean(a, 0) : ippGetInteger(a, 0);
}
std::vector<std::string> Strings(ipp_t* ipp, const char* name) {
  std::vector<std::string> out;
  ipp_attribute_t* a = ippFindAttribute(ipp, name, IPP_TAG_ZERO);
  for (int i = 0, n = a ? ippGetCount(a) : 0; i < n; ++i) {
    if (const char* s = ippGetString(a, i, nullptr)) out.push_back(s);
  }
  return out;
}
bool Contains(const std::vector<std::string>& v, const char* s) { return std::find(v.begin(), v.end(), s) != v.end(); }

const char* const kPrinterAttrs[] = {"printer-name",     "printer-info",           "printer-location",
                                     "device-uri",       "printer-make-and-model", "printer-type",
                                     "printer-state",    "printer-state-reasons",  "printer-is-accepting-jobs",
                                     "queued-job-count", "printer-is-shared"};

PrinterInfo ToPrinterInfo(ipp_t* attrs, const std::string& default_name) {
  PrinterInfo p;
  p.name = Text(attrs, "printer-name");
  p.comment = Text(attrs, "printer-info");
  p.location = Text(attrs, "printer-location");
  p.port = Text(attrs, "device-uri");
  p.driver = Text(attrs, "printer-make-and-model");
  int type = Integer(attrs, "printer-type", 0);
  p.attributes = (type & CUPS_PRINTER_REMOTE) ? PRINTER_ATTRIBUTE_NETWORK : PRINTER_ATTRIBUTE_LOCAL;
  if (Integer(attrs, "printer-is-shared", 0)) p.attributes |= PRINTER_ATTRIBUTE_SHARED;
  p.is_default = !default_name.empty() && p.name == default_name;
  if (p.is_default) p.attributes |= PRINTER_ATTRIBUTE_DEFAULT;
  int state = Integer(attrs, "printer-state", IPP_PSTATE_IDLE);
  if (state == IPP_PSTATE_STOPPED) p.status |= PRINTER_STATUS_PAUSED;
  if (state == IPP_PSTATE_PROCESSING) p.status |= PRINTER_STATUS_PRINTING;
  for (const auto& r : Strings(attrs, "printer-state-reasons")) {
    auto has = [&](const char* prefix) { return r.rfind(prefix, 0) == 0; };
    if (has("offline")) p.status |= PRINTER_STATUS_OFFLINE;
    else if (has("media-empty") || has("media-needed")) p.status |= PRINTER_STATUS_PAPER_OUT;
    else if (has("media-jam")) p.status |= PRINTER_STATUS_PAPER_JAM;
    else if (has("paused")) p.status |= PRINTER_STATUS_PAUSED;
    else if (r.size() > 6 && r.compare(r.size() - 6, 6, "-error") == 0) p.status |= PRINTER_STATUS_ERROR;
  }
  p.accepting = Integer(attrs, "printer-is-accepting-jobs", 1) != 0;
  p.jobs = static_cast<std::uint32_t>(std::max(0, Integer(attrs, "queued-job-count", 0)));
  return p;
}

Result<Ipp> PrinterAttributes(http_t* http, const std::string& name, const char* const* attrs, int count) {
  if (!ValidQueueName(name)) return Status::NotFound("no printer \"" + name + "\"");
  ipp_t* req = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(name).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", count, nullptr, attrs);
  return Send(http, req, "printer \"" + name + "\"");
}

std::string DefaultName(http_t* http) {
  const char* d = cupsGetDefault2(http);
  return d ? d : "";
}

// The printer's papers with the server's name of each.
struct CupsCaps {
  Capabilities caps;
  std::map<win::SHORT, std::string> media_names;
};

const char* const kCapsAttrs[] = {"media-supported",
                                  "media-default",
                                  "media-col-database",
                                  "media-col-default",
                                  "printer-resolution-supported",
                                  "printer-resolution-default",
                                  "sides-supported",
                                  "sides-default",
                                  "print-color-mode-supported",
                                  "print-color-mode-default",
                                  "color-supported",
                                  "copies-supported",
                                  "multiple-document-handling-supported",
                                  "orientation-requested-default",
                                  "printer-type"};

Resolution ToResolution(ipp_attribute_t* a, int i) {
  int y = 0;
  ipp_res_t units = IPP_RES_PER_INCH;
  int x = ippGetResolution(a, i, &y, &units);
  if (units == IPP_RES_PER_CM) {
    x = static_cast<int>(x * 2.54 + 0.5);
    y = static_cast<int>(y * 2.54 + 0.5);
  }
  return {x, y};
}

Result<CupsCaps> ReadCaps(http_t* http, const std::string& name) {
  auto answer = PrinterAttributes(http, name, kCapsAttrs, int(std::size(kCapsAttrs)));
  if (!answer.ok()) return answer.status();
  ipp_t* a = answer->get();
  CupsCaps out;
  Capabilities& c = out.caps;

  // Margins per medium from media-col-database (hundredths of a millimetre); the entry with
  // the widest margins of a size wins, so a borderless variant does not hide the normal one.
  struct Margins {
    int left = -1, top = 0, right = 0, bottom = 0;
  };
  std::map<std::pair<int, int>, Margins> margins;
  if (ipp_attribute_t* db = ippFindAttribute(a, "media-col-database", IPP_TAG_BEGIN_COLLECTION)) {
    for (int i = 0; i < ippGetCount(db); ++i) {
      ipp_t* col = ippGetCollection(db, i);
      ipp_attribute_t* size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION);
      if (!size) continue;
      ipp_t* sz = ippGetCollection(size, 0);
      int w = Integer(sz, "x-dimension", 0), h = Integer(sz, "y-dimension", 0);
      if (w <= 0 || h <= 0) continue;
      Margins m{Integer(col, "media-left-margin", 0), Integer(col, "media-top-margin", 0),
                Integer(col, "media-right-margin", 0), Integer(col, "media-bottom-margin", 0)};
      Margins& cur = margins[{w, h}];
      if (cur.left < 0 || m.left + m.top + m.right + m.bottom > cur.left + cur.top + cur.right + cur.bottom) {
        cur = m;
      }
    }
  }
  // Paper codes above DMPAPER_USER are the driver's own: a medium with no standard code is
  // numbered there, one code per medium for as long as the capabilities are held.
  win::SHORT next_own = DMPAPER_USER + 1;
  for (const auto& pwg_name : Strings(a, "media-supported")) {
    pwg_media_t* pwg = pwgMediaForPWG(pwg_name.c_str());
    if (!pwg || pwg->width <= 0 || pwg->length <= 0) continue;
    Paper p;
    // The server counts hundredths of a millimetre, the device mode tenths: round to nearest.
    std::int32_t w = (pwg->width + 5) / 10, h = (pwg->length + 5) / 10;
    const MediaEntry* m = MediaByPwg(pwg_name);
    if (!m) m = MediaBySize(w, h);
    if (m && !c.FindPaper(m->code)) {
      p.code = m->code;
      p.name = m->name;
    } else {
      p.code = next_own++;
      p.name = pwg->ppd && *pwg->ppd ? pwg->ppd : pwg_name;
    }
    p.width = w;
    p.length = h;
    // A size given in points (from a PPD) differs from the name's size by a fraction of a
    // millimetre, so sizes within 1 mm are the same medium.
    for (const auto& [size, m] : margins) {
      if (m.left >= 0 && std::abs(size.first - pwg->width) <= 100 && std::abs(size.second - pwg->length) <= 100) {
        p.left = m.left / 10;
        p.top = m.top / 10;
        p.right = m.right / 10;
        p.bottom = m.bottom / 10;
        break;
      }
    }
    out.media_names[p.code] = pwg_name;
    c.papers.push_back(std::move(p));
  }
  std::string media_default = Text(a, "media-default");
  for (const auto& [code, pwg_name] : out.media_names) {
    if (pwg_name == media_default) c.default_paper = code;
  }
  if (!c.FindPaper(c.default_paper) && !c.papers.empty()) c.default_paper = c.papers.front().code;

  if (ipp_attribute_t* r = ippFindAttribute(a, "printer-resolution-supported", IPP_TAG_RESOLUTION)) {
    for (int i = 0; i < ippGetCount(r); ++i) c.resolutions.push_back(ToResolution(r, i));
  }
  if (ipp_attribute_t* r = ippFindAttribute(a, "printer-resolution-default", IPP_TAG_RESOLUTION)) {
    c.default_resolution = ToResolution(r, 0);
  } else if (!c.resolutions.empty()) {
    c.default_resolution = c.resolutions.back();
  }
  if (c.resolutions.empty()) c.resolutions.push_back(c.default_resolution);

  auto sides = Strings(a, "sides-supported");
  c.duplex = Contains(sides, "two-sided-long-edge") || Contains(sides, "two-sided-short-edge");
  std::string side_default = Text(a, "sides-default");
  c.default_duplex = side_default == "two-sided-long-edge"    ? win::DMDUP_VERTICAL
                     : side_default == "two-sided-short-edge" ? win::DMDUP_HORIZONTAL
                                                              : win::DMDUP_SIMPLEX;
  auto modes = Strings(a, "print-color-mode-supported");
  c.color = Integer(a, "color-supported", 0) != 0 || Contains(modes, "color");
  c.default_color = c.color && Text(a, "print-color-mode-default") != "monochrome";
  if (ipp_attribute_t* cp = ippFindAttribute(a, "copies-supported", IPP_TAG_RANGE)) {
    int upper = 1;
    ippGetRange(cp, 0, &upper);
    // The device mode carries the copy count in a signed 16-bit field.
    c.max_copies = std::clamp(upper, 1, 32767);
  } else {
    c.max_copies = 1;
  }
  auto handling = Strings(a, "multiple-document-handling-supported");
  c.collate = Contains(handling, "separate-documents-collated-copies") ||
              (Integer(a, "printer-type", 0) & CUPS_PRINTER_COLLATE);
  c.default_orientation = Integer(a, "orientation-requested-default", IPP_ORIENT_PORTRAIT) == IPP_ORIENT_LANDSCAPE
                              ? win::DMORIENT_LANDSCAPE
                              : win::DMORIENT_PORTRAIT;
  return out;
}

// Job attributes and their reading.
const char* const kJobAttrs[] = {"job-id",
                                 "job-name",
                                 "job-originating-user-name",
                                 "job-originating-host-name",
                                 "job-state",
                                 "job-state-reasons",
                                 "time-at-creation",
                                 "job-impressions",
                                 "job-impressions-completed",
                                 "job-k-octets",
                                 "job-printer-uri",
                                 "copies",
                                 "media",
                                 "sides",
                                 "orientation-requested",
                                 "multiple-document-handling",
                                 "print-color-mode",
                                 "printer-resolution"};

JobInfo ToJobInfo(ipp_t* attrs, const std::string& printer) {
  JobInfo j;
  j.id = static_cast<std::uint32_t>(std::max(0, Integer(attrs, "job-id", 0)));
  j.printer = printer;
  j.document = Text(attrs, "job-name");
  j.owner = Text(attrs, "job-originating-user-name");
  j.machine = Text(attrs, "job-originating-host-name");
  int state = Integer(attrs, "job-state", IPP_JSTATE_PENDING);
  auto reasons = Strings(attrs, "job-state-reasons");
  switch (state) {
    case IPP_JSTATE_PENDING:
      j.state = JobState::kQueued;
      break;
    case IPP_JSTATE_HELD:
      j.state = JobState::kPaused;
      break;
    case IPP_JSTATE_PROCESSING:
      j.state = JobState::kPrinting;
      break;
    case IPP_JSTATE_STOPPED:
      j.state = JobState::kPaused;
      break;
    case IPP_JSTATE_CANCELED:
      j.state = JobState::kDeleted;
      break;
    case IPP_JSTATE_ABORTED:
      j.state = JobState::kError;
      break;
    case IPP_JSTATE_COMPLETED:
      j.state = JobState::kCompleted;
      break;
    default:
      j.state = JobState::kQueued;
  }
  if (state <= IPP_JSTATE_HELD && Contains(reasons, "job-incoming")) j.state = JobState::kSpooling;
  j.status = StatusBitsFor(j.state);
  if (state == IPP_JSTATE_ABORTED) j.status |= JOB_STATUS_DELETED;
  j.total_pages = static_cast<std::uint32_t>(std::max(0, Integer(attrs, "job-impressions", 0)));
  j.pages_printed = static_cast<std::uint32_t>(std::max(0, Integer(attrs, "job-impressions-completed", 0)));
  j.size = static_cast<std::uint64_t>(std::max(0, Integer(attrs, "job-k-octets", 0))) * 1024;
  j.submitted_unix_ms = std::int64_t(Integer(attrs, "time-at-creation", 0)) * 1000;
  j.submitted = SystemTimeFromUnixMs(j.submitted_unix_ms);
  JobOptions& o = j.options;
  o.copies = std::max(1, Integer(attrs, "copies", 1));
  std::string media = Text(attrs, "media");
  if (!media.empty()) {
    if (const MediaEntry* m = MediaByPwg(media)) {
      o.paper = m->code;
      o.paper_name = m->name;
      o.paper_width = m->width;
      o.paper_length = m->length;
    } else if (pwg_media_t* pwg = pwgMediaForPWG(media.c_str())) {
      o.paper = DMPAPER_USER;
      o.paper_name = media;
      o.paper_width = (pwg->width + 5) / 10;
      o.paper_length = (pwg->length + 5) / 10;
    }
  }
  std::string sides = Text(attrs, "sides");
  o.duplex = sides == "two-sided-long-edge"    ? win::DMDUP_VERTICAL
             : sides == "two-sided-short-edge" ? win::DMDUP_HORIZONTAL
                                               : win::DMDUP_SIMPLEX;
  o.orientation = Integer(attrs, "orientation-requested", IPP_ORIENT_PORTRAIT) == IPP_ORIENT_LANDSCAPE
                      ? win::DMORIENT_LANDSCAPE
                      : win::DMORIENT_PORTRAIT;
  o.collate = Text(attrs, "multiple-document-handling") == "separate-documents-collated-copies";
  o.color = Text(attrs, "print-color-mode") == "color";
  if (ipp_attribute_t* r = ippFindAttribute(attrs, "printer-resolution", IPP_TAG_RESOLUTION)) {
    o.resolution = ToResolution(r, 0);
  }
  return j;
}

bool JobOnPrinter(ipp_t* attrs, const std::string& printer) {
  std::string uri = Text(attrs, "job-printer-uri");
  if (uri.empty()) return true;
  std::string tail = "/printers/" + printer;
  return uri.size() >= tail.size() && uri.compare(uri.size() - tail.size(), tail.size(), tail) == 0;
}

Result<JobInfo> ReadJob(http_t* http, const std::string& printer, std::uint32_t id) {
  if (!ValidQueueName(printer)) return Status::NotFound("no printer \"" + printer + "\"");
  // Job ids travel as signed 32-bit integers in the protocol; a larger id cannot name a job.
  if (id == 0 || id > INT32_MAX) return Status::NotFound("no job " + std::to_string(id));
  ipp_t* req = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
  ippAddInteger(req, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", static_cast<int>(id));
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(kJobAttrs)), nullptr,
                kJobAttrs);
  auto answer = Send(http, req, "job " + std::to_string(id) + " on \"" + printer + "\"");
  if (!answer.ok()) return answer.status();
  if (!JobOnPrinter(answer->get(), printer)) {
    return Status::NotFound("job " + std::to_string(id) + " is not on \"" + printer + "\"");
  }
  return ToJobInfo(answer->get(), printer);
}

std::int64_t NowUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// ---------------------------------------------------------------------------------------

class CupsJob : public PrintJob {
 public:
  CupsJob(std::string server, std::string printer, std::string document, std::uint32_t id, std::int64_t submitted_ms,
          JobOptions options)
      : server_(std::move(server)),
        printer_(std::move(printer)),
        document_(std::move(document)),
        id_(id),
        submitted_(SystemTimeFromUnixMs(submitted_ms)),
        options_(std::move(options)) {}
  // A job dropped without End or Abort is cancelled; a destructor cannot report.
  ~CupsJob() override {
    if (!done_) (void)Abort();
  }
  std::uint32_t id() const override { return id_; }
  const win::SYSTEMTIME& submitted() const override { return submitted_; }
  const JobOptions& options() const override { return options_; }

  Status WriteDocument(const fs::path& pdf, int pages) override {
    if (done_) return Status::InvalidArgument("the job has already ended");
    if (pages < 0) return Status::InvalidArgument("negative page count");
    std::ifstream in(pdf, std::ios::binary);
    if (!in) return Status::NotFound(pdf.string() + ": cannot open");
    char head[5] = {};
    in.read(head, 5);
    if (in.gcount() != 5 || std::memcmp(head, "%PDF-", 5) != 0) {
      return Status::InvalidArgument(pdf.string() + ": not a PDF file");
    }
    pdf_ = pdf;
    return Status::Ok();
  }

  Status End() override {
    if (done_) return Status::InvalidArgument("the job has already ended");
    done_ = true;
    auto http = Connect(server_);
    if (!http.ok()) return http.status();
    if (pdf_.empty()) {
      // The job was created before any document was known; left alone it would wait on the
      // server for a document that never comes.
      cupsCancelJob2(http->get(), printer_.c_str(), static_cast<int>(id_), 0);
      return Status::Ok();
    }
    Status st = Send(http->get());
    // A scheduler that authenticates the senders of documents (a machine that is also a
    // client: job owners must be who they say they are) answers the first document on a
    // connection with a challenge; libcups has then authenticated the connection (PeerCred
    // on the local socket), so the document is sent once more.
    if (!st.ok() && (httpGetStatus(http->get()) == HTTP_STATUS_UNAUTHORIZED ||
                     cupsLastError() == IPP_STATUS_ERROR_NOT_AUTHORIZED)) {
      st = Send(http->get());
    }
    if (!st.ok()) cupsCancelJob2(http->get(), printer_.c_str(), static_cast<int>(id_), 0);
    return st;
  }

  Status Abort() override {
    if (done_) return Status::Ok();
    done_ = true;
    auto http = Connect(server_);
    if (!http.ok()) return http.status();
    if (cupsCancelJob2(http->get(), printer_.c_str(), static_cast<int>(id_), 0) != IPP_STATUS_OK) {
      // A job that has already finished or gone needs no cancelling.
      auto job = ReadJob(http->get(), printer_, id_);
      if (!job.ok() || !InQueue(job->state)) return Status::Ok();
      return IppError("cancelling job " + std::to_string(id_));
    }
    return Status::Ok();
  }

 private:
  Status Send(http_t* http) {
    std::ifstream in(pdf_, std::ios::binary);
    if (!in) return Status::NotFound(pdf_.string() + ": cannot open");
    if (cupsStartDocument(http, printer_.c_str(), static_cast<int>(id_), document_.c_str(), CUPS_FORMAT_PDF, 1) !=
        HTTP_STATUS_CONTINUE) {
      return IppError("sending the document of job " + std::to_string(id_));
    }
    std::vector<char> buf(64 * 1024);
    bool write_failed = false;
    while (in) {
      in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
      std::streamsize n = in.gcount();
      if (n <= 0) break;
      if (cupsWriteRequestData(http, buf.data(), static_cast<size_t>(n)) != HTTP_STATUS_CONTINUE) {
        write_failed = true;
        break;
      }
    }
    bool read_failed = in.bad();
    ipp_status_t st = cupsFinishDocument(http, printer_.c_str());
    if (read_failed) return Status::IOError(pdf_.string() + ": read failed");
    if (write_failed || st > IPP_STATUS_OK_CONFLICTING) {
      return IppError("sending the document of job " + std::to_string(id_));
    }
    return Status::Ok();
  }

  std::string server_, printer_, document_;
  std::uint32_t id_;
  win::SYSTEMTIME submitted_;
  JobOptions options_;
  fs::path pdf_;
  bool done_ = false;
};

}  // namespace

std::vector<std::pair<std::string, std::string>> CupsJobOptions(const JobOptions& o, const std::string& media,
                                                                bool printer_has_color) {
  std::vector<std::pair<std::string, std::string>> out;
  std::string m = media;
  if (m.empty() && o.paper_width > 0 && o.paper_length > 0) {
    char name[128];
    if (pwgFormatSizeName(name, sizeof name, "custom", nullptr, o.paper_width * 10, o.paper_length * 10, "mm")) {
      m = name;
    }
  }
  if (!m.empty()) out.emplace_back("media", m);
  out.emplace_back(
      "orientation-requested",
      std::to_string(o.orientation == win::DMORIENT_LANDSCAPE ? IPP_ORIENT_LANDSCAPE : IPP_ORIENT_PORTRAIT));
  out.emplace_back("sides", o.duplex == win::DMDUP_VERTICAL     ? "two-sided-long-edge"
                            : o.duplex == win::DMDUP_HORIZONTAL ? "two-sided-short-edge"
                                                                : "one-sided");
  out.emplace_back("copies", std::to_string(std::max(1, o.copies)));
  out.emplace_back("multiple-document-handling",
                   o.collate ? "separate-documents-collated-copies" : "separate-documents-uncollated-copies");
  if (printer_has_color) out.emplace_back("print-color-mode", o.color ? "color" : "monochrome");
  std::string res = o.resolution.x == o.resolution.y
                        ? std::to_string(o.resolution.x) + "dpi"
                        : std::to_string(o.resolution.x) + "x" + std::to_string(o.resolution.y) + "dpi";
  out.emplace_back("printer-resolution", res);
  return out;
}

CupsSpooler::CupsSpooler(std::string server) : server_(std::move(server)) {}

Result<std::vector<PrinterInfo>> CupsSpooler::EnumPrinters() {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  std::string def = DefaultName(http->get());
  ipp_t* req = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(kPrinterAttrs)), nullptr,
                kPrinterAttrs);
  ipp_t* answer = cupsDoRequest(http->get(), req, "/");
  Ipp owned(answer);
  std::vector<PrinterInfo> out;
  if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return out;  // no printers at all
  if (!answer || cupsLastError() > IPP_STATUS_OK_CONFLICTING) return IppError("listing printers");
  // The answer holds one printer group after another; each is read as its own message.
  ipp_attribute_t* attr = ippFirstAttribute(answer);
  while (attr) {
    while (attr && ippGetGroupTag(attr) != IPP_TAG_PRINTER) attr = ippNextAttribute(answer);
    if (!attr) break;
    Ipp group(ippNew());
    for (; attr && ippGetGroupTag(attr) == IPP_TAG_PRINTER; attr = ippNextAttribute(answer)) {
      ippCopyAttribute(group.get(), attr, 0);
    }
    PrinterInfo p = ToPrinterInfo(group.get(), def);
    if (!p.name.empty()) out.push_back(std::move(p));
  }
  std::sort(out.begin(), out.end(), [](const PrinterInfo& a, const PrinterInfo& b) { return a.name < b.name; });
  return out;
}

Result<std::string> CupsSpooler::DefaultPrinter() {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  std::string def = DefaultName(http->get());
  if (def.empty()) return Status::NotFound("no default printer");
  return def;
}

Result<PrinterInfo> CupsSpooler::GetPrinter(const std::string& name) {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  auto answer = PrinterAttributes(http->get(), name, kPrinterAttrs, int(std::size(kPrinterAttrs)));
  if (!answer.ok()) return answer.status();
  return ToPrinterInfo(answer->get(), DefaultName(http->get()));
}

Result<Capabilities> CupsSpooler::GetCapabilities(const std::string& name) {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  auto caps = ReadCaps(http->get(), name);
  if (!caps.ok()) return caps.status();
  return caps->caps;
}

Result<std::unique_ptr<PrintJob>> CupsSpooler::StartDoc(const std::string& printer, const DocInfo& doc,
                                                        const DevMode& mode) {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  auto caps = ReadCaps(http->get(), printer);
  if (!caps.ok()) return caps.status();
  DevMode merged = spool::MergeDevMode(MakeDefaultDevMode(printer, caps->caps), mode, caps->caps);
  JobOptions options = ResolveJobOptions(merged, caps->caps);
  std::string media;
  if (auto it = caps->media_names.find(options.paper); it != caps->media_names.end()) media = it->second;

  cups_option_t* opts = nullptr;
  int n = 0;
  for (const auto& [k, v] : CupsJobOptions(options, media, caps->caps.color)) {
    n = cupsAddOption(k.c_str(), v.c_str(), n, &opts);
  }
  int id = cupsCreateJob(http->get(), printer.c_str(), doc.document.c_str(), n, opts);
  cupsFreeOptions(n, opts);
  if (id <= 0) return IppError("starting a job on \"" + printer + "\"");

  // The server's creation time is preferred, so the time this job reports matches the one the
  // queue listing shows later.
  std::int64_t submitted = NowUnixMs();
  if (auto job = ReadJob(http->get(), printer, static_cast<std::uint32_t>(id));
      job.ok() && job->submitted_unix_ms > 0) {
    submitted = job->submitted_unix_ms;
  }
  return std::unique_ptr<PrintJob>(std::make_unique<CupsJob>(
      server_, printer, doc.document, static_cast<std::uint32_t>(id), submitted, std::move(options)));
}

Result<std::vector<JobInfo>> CupsSpooler::EnumJobs(const std::string& printer) {
  if (!ValidQueueName(printer)) return Status::NotFound("no printer \"" + printer + "\"");
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  ipp_t* req = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ippAddStrings(req, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(kJobAttrs)), nullptr,
                kJobAttrs);
  auto answer = Send(http->get(), req, "jobs of \"" + printer + "\"");
  if (!answer.ok()) return answer.status();
  std::vector<JobInfo> out;
  ipp_t* a = answer->get();
  ipp_attribute_t* attr = ippFirstAttribute(a);
  while (attr) {
    while (attr && ippGetGroupTag(attr) != IPP_TAG_JOB) attr = ippNextAttribute(a);
    if (!attr) break;
    Ipp group(ippNew());
    for (; attr && ippGetGroupTag(attr) == IPP_TAG_JOB; attr = ippNextAttribute(a)) {
      ippCopyAttribute(group.get(), attr, 0);
    }
    JobInfo j = ToJobInfo(group.get(), printer);
    if (j.id != 0 && InQueue(j.state)) out.push_back(std::move(j));
  }
  std::sort(out.begin(), out.end(), [](const JobInfo& x, const JobInfo& y) { return x.id < y.id; });
  return out;
}

Result<JobInfo> CupsSpooler::GetJob(const std::string& printer, std::uint32_t id) {
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  return ReadJob(http->get(), printer, id);
}

Status CupsSpooler::CancelJob(const std::string& printer, std::uint32_t id) {
  if (!ValidQueueName(printer)) return Status::NotFound("no printer \"" + printer + "\"");
  if (id == 0 || id > INT32_MAX) return Status::NotFound("no job " + std::to_string(id));
  auto http = Connect(server_);
  if (!http.ok()) return http.status();
  if (cupsCancelJob2(http->get(), printer.c_str(), static_cast<int>(id), 0) != IPP_STATUS_OK) {
    return IppError("cancelling job " + std::to_string(id));
  }
  return Status::Ok();
}

}  // namespace zv::spool
