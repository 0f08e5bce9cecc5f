#include "printing/rpqcprtd.h"

#include <algorithm>

namespace zv::printing {

CRpqcprtd::CRpqcprtd(bool print_setup_only, std::uint32_t flags, const char* title,
                     std::function<void(const std::string&)> trace)
    : title_(title ? title : ""), print_setup_only_(print_setup_only), trace_(std::move(trace)) {
  if (trace_) trace_("CPageDat::CRpqcprtd IN");
  m_pd.Flags = flags;
  if (trace_) trace_("CPageDat::CRpqcprtd OUT");
}

CRpqcprtd::~CRpqcprtd() {
  if (trace_) trace_("CPageDat::~CRpqcprtd IN");
  dc_.reset();
  held_devmode.reset();
  if (trace_) trace_("CPageDat::~CRpqcprtd OUT");
}

int CRpqcprtd::GetCopies() const { return std::max<int>(1, m_pd.nCopies); }

spool::DevMode* CRpqcprtd::GetDevMode() { return m_pd.hDevMode ? &*m_pd.hDevMode : nullptr; }

Result<PrinterDC*> CRpqcprtd::CreatePrinterDC(spool::Spooler& spooler, SheetSurfaceFactory surfaces) {
  if (m_pd.hDevNames.empty() || !m_pd.hDevMode) {
    return Status::InvalidArgument("no printer selected");
  }
  auto names = spool::ParseDevNames(m_pd.hDevNames);
  if (!names.ok()) return names.status();
  auto dc = PrinterDC::Create(spooler, names->device, *m_pd.hDevMode, std::move(surfaces));
  if (!dc.ok()) return dc.status();
  dc_ = std::move(*dc);
  return dc_.get();
}

}  // namespace zv::printing
