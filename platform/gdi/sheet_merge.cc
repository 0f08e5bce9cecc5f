// Assembles a job's PDF from the files its sheets were drawn into, with libqpdf. Kept apart
// from the printer so that qpdf's headers are compiled as the C++ they are written for: clang
// 14 refuses their JSON class under C++20 (a vector of an incomplete type in an inline
// destructor).
// qpdf's headers without its older pointer type.
#define POINTERHOLDER_TRANSITION 4
#include "platform/gdi/internal/sheet_merge.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "platform/workers/workers.h"

namespace zv::gdi {
namespace {

// A key of an object and everything it refers to (streams by their raw data): two objects
// with the same key write the same bytes under other numbers. `memo` keeps the keys of
// indirect objects met; a reference deeper than a font's own graph gives a key of its own.
std::string GraphKey(QPDFObjectHandle o, std::map<QPDFObjGen, std::string>& memo, int depth = 0) {
  if (depth > 16) return "#" + o.getObjGen().unparse(',');
  const bool indirect = o.isIndirect();
  if (indirect) {
    if (auto it = memo.find(o.getObjGen()); it != memo.end()) return it->second;
  }
  std::string key;
  if (o.isStream()) {
    key = "S" + GraphKey(o.getDict(), memo, depth + 1) + ":";
    std::shared_ptr<Buffer> data = o.getRawStreamData();
    key += std::to_string(std::hash<std::string_view>{}(
               std::string_view(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()))) +
           "/" + std::to_string(data->getSize());
  } else if (o.isDictionary()) {
    key = "<<";
    for (const std::string& k : o.getKeys()) key += k + " " + GraphKey(o.getKey(k), memo, depth + 1) + " ";
    key += ">>";
  } else if (o.isArray()) {
    key = "[";
    for (const QPDFObjectHandle& item : o.aitems()) key += GraphKey(item, memo, depth + 1) + " ";
    key += "]";
  } else {
    key = o.unparse();
  }
  if (indirect) memo[o.getObjGen()] = key;
  return key;
}

// Points every page's fonts that equal a font met before (the same subset of a face, drawn
// into two workers' files) to that one, so it is written once.
void ShareEqualFonts(QPDF& pdf) {
  std::map<QPDFObjGen, std::string> memo;
  std::map<std::string, QPDFObjectHandle> first;
  for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
    QPDFObjectHandle fonts = page.getObjectHandle().getKey("/Resources").getKey("/Font");
    if (!fonts.isDictionary()) continue;
    for (const std::string& name : fonts.getKeys()) {
      QPDFObjectHandle font = fonts.getKey(name);
      if (!font.isIndirect()) continue;
      auto [it, fresh] = first.emplace(GraphKey(font, memo), font);
      if (!fresh && it->second.getObjGen() != font.getObjGen()) fonts.replaceKey(name, it->second);
    }
  }
}

}  // namespace

Status AssembleSheets(const std::vector<SheetSource>& files, const std::vector<SheetPlace>& sheets,
                      const std::string& out) {
  try {
    std::vector<std::unique_ptr<QPDF>> in(files.size());
    std::vector<std::vector<QPDFPageObjectHelper>> pages(files.size());
    std::string version = "1.3";
    // The files are read on as many cores, each object parsed there, so that copying them
    // below only joins what was read.
    std::vector<std::string> failed(files.size());
    workers::ForEachPart(files.size(), [&](size_t i) {
      if (files[i].pages == 0) return;
      try {
        auto pdf = std::make_unique<QPDF>();
        pdf->setSuppressWarnings(true);
        if (files[i].on_disk) {
          pdf->processFile(files[i].path.c_str());
        } else {
          pdf->processMemoryFile(files[i].path.c_str(), files[i].held->data(), files[i].held->size());
        }
        // Attributes a page inherits from cairo's page tree move onto the page, which is
        // copied without its tree.
        pdf->pushInheritedAttributesToPage();
        pages[i] = QPDFPageDocumentHelper(*pdf).getAllPages();
        for (QPDFObjectHandle& o : pdf->getAllObjects()) (void)o.getTypeCode();
        in[i] = std::move(pdf);
      } catch (const std::exception& e) {
        failed[i] = e.what();
      }
    });
    for (size_t i = 0; i < files.size(); ++i) {
      if (!failed[i].empty()) return Status::IOError("cannot read a worker's sheets: " + failed[i]);
      if (in[i] && in[i]->getPDFVersion() > version) version = in[i]->getPDFVersion();
    }
    QPDF merged;
    merged.emptyPDF();
    QPDFPageDocumentHelper tree(merged);
    bool info = false;
    for (const SheetPlace& p : sheets) {
      if (p.file < 0 || size_t(p.file) >= files.size() || !in[size_t(p.file)] ||
          p.page >= int(pages[size_t(p.file)].size())) {
        return Status::IOError("a sheet of the job is missing");
      }
      tree.addPage(pages[size_t(p.file)][size_t(p.page)], false);
      if (!info) {
        // The document information (producer, creation date) of the file the first sheet
        // was drawn into.
        QPDFObjectHandle source = in[size_t(p.file)]->getTrailer().getKey("/Info");
        if (source.isIndirect()) merged.getTrailer().replaceKey("/Info", merged.copyForeignObject(source));
        info = true;
      }
    }
    ShareEqualFonts(merged);
    QPDFWriter writer(merged, out.c_str());
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    writer.setMinimumPDFVersion(version);
    writer.write();
  } catch (const std::exception& e) {
    return Status::IOError(std::string("cannot assemble the job's sheets: ") + e.what());
  }
  return Status::Ok();
}

}  // namespace zv::gdi
