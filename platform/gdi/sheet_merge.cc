// Assembles a job's PDF from the files its sheets were drawn into, with libqpdf. Kept apart
// from the printer so that qpdf's headers are compiled as the C++ they are written for: clang
// 14 refuses their JSON class under C++20 (a vector of an incomplete type in an inline
// destructor).
// qpdf's headers without its older pointer type.
#define POINTERHOLDER_TRANSITION 4
#include "platform/gdi/internal/sheet_merge.h"

#include <zlib.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string_view>

#include "platform/workers/workers.h"

namespace zv::gdi {
namespace {

// The placeholder: a JPEG start, an application segment naming the picture and a frame
// header with the picture's size (what cairo reads of JPEG data), and a JPEG end.
constexpr unsigned char kTag[] = {'Z', 'V', 'P', 'I', 'C', '1'};
constexpr std::size_t kTagAt = 6;  // after FF D8, FF E9 and the segment's length

// Gives the index a placeholder names, or -1 when the data is not a placeholder.
long PlaceholderIndex(const Buffer& b) {
  const unsigned char* d = b.getBuffer();
  const std::size_t n = b.getSize();
  if (n < kTagAt + sizeof kTag + 4 || d[0] != 0xFF || d[1] != 0xD8 || d[2] != 0xFF || d[3] != 0xE9 ||
      std::memcmp(d + kTagAt, kTag, sizeof kTag) != 0) {
    return -1;
  }
  const unsigned char* i = d + kTagAt + sizeof kTag;
  return long((std::uint32_t(i[0]) << 24) | (std::uint32_t(i[1]) << 16) | (std::uint32_t(i[2]) << 8) | i[3]);
}

// Puts the pictures of `pictures` in the streams of the placeholders among `objects` (all of a
// file's); false when a placeholder names no picture or a picture has no placeholder.
bool FillPlaceholders(std::vector<QPDFObjectHandle>& objects, const std::vector<DeflatedPicture>& pictures) {
  std::vector<bool> placed(pictures.size(), false);
  for (QPDFObjectHandle& o : objects) {
    if (!o.isStream()) continue;
    QPDFObjectHandle dict = o.getDict();
    if (!dict.getKey("/Subtype").isNameAndEquals("/Image") || !dict.getKey("/Filter").isNameAndEquals("/DCTDecode")) {
      continue;
    }
    const long index = PlaceholderIndex(*o.getRawStreamData());
    if (index < 0) continue;
    if (size_t(index) >= pictures.size() || placed[size_t(index)]) return false;
    const DeflatedPicture& p = pictures[size_t(index)];
    placed[size_t(index)] = true;
    // The samples stay where they are (the pictures outlive the writing).
    auto data =
        std::make_shared<Buffer>(reinterpret_cast<unsigned char*>(const_cast<char*>(p.data.data())), p.data.size());
    o.replaceStreamData(data, QPDFObjectHandle::newName("/FlateDecode"), QPDFObjectHandle::newNull());
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(p.grey ? "/DeviceGray" : "/DeviceRGB"));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(p.bits));
  }
  for (bool b : placed) {
    if (!b) return false;
  }
  return true;
}

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

DeflatedPicture DeflatePixels(const std::uint32_t* px, int stride, int width, int height) {
  DeflatedPicture out;
  // Black and white, grey, or colour: as the PDF surface decides for an opaque image.
  bool grey = true, mono = true;
  for (int y = 0; grey && y < height; ++y) {
    const std::uint32_t* row = px + std::size_t(y) * std::size_t(stride);
    for (int x = 0; x < width; ++x) {
      const std::uint32_t r = (row[x] >> 16) & 0xFF, g = (row[x] >> 8) & 0xFF, b = row[x] & 0xFF;
      if (r != g || g != b) {
        grey = false;
        break;
      }
      if (r != 0 && r != 255) mono = false;
    }
  }
  out.grey = grey;
  out.bits = grey && mono ? 1 : 8;
  const std::size_t row_bytes = out.bits == 1 ? (std::size_t(width) + 7) / 8 : std::size_t(width) * (grey ? 1 : 3);
  std::string samples(row_bytes * std::size_t(height), '\0');
  auto* s = reinterpret_cast<unsigned char*>(samples.data());
  for (int y = 0; y < height; ++y) {
    const std::uint32_t* row = px + std::size_t(y) * std::size_t(stride);
    unsigned char* o = s + std::size_t(y) * row_bytes;
    if (out.bits == 1) {
      for (int x = 0; x < width; ++x) {
        if (row[x] & 0xFF0000) o[x / 8] = static_cast<unsigned char>(o[x / 8] | (0x80 >> (x % 8)));
      }
    } else if (grey) {
      for (int x = 0; x < width; ++x) o[x] = static_cast<unsigned char>(row[x] >> 16);
    } else {
      for (int x = 0; x < width; ++x) {
        o[3 * x] = static_cast<unsigned char>(row[x] >> 16);
        o[3 * x + 1] = static_cast<unsigned char>(row[x] >> 8);
        o[3 * x + 2] = static_cast<unsigned char>(row[x]);
      }
    }
  }
  // The level the PDF surface compresses its streams at.
  uLongf size = compressBound(uLong(samples.size()));
  out.data.resize(size);
  if (compress2(reinterpret_cast<Bytef*>(out.data.data()), &size, s, uLong(samples.size()), Z_DEFAULT_COMPRESSION) !=
      Z_OK) {
    out.data.clear();
    return out;
  }
  out.data.resize(size);
  out.data.shrink_to_fit();
  return out;
}

std::string PicturePlaceholder(std::uint32_t index, int width, int height) {
  std::string p = {'\xFF', '\xD8', '\xFF', '\xE9', 0, char(2 + sizeof kTag + 4)};
  p.append(reinterpret_cast<const char*>(kTag), sizeof kTag);
  for (int shift = 24; shift >= 0; shift -= 8) p += char((index >> shift) & 0xFF);
  // A baseline frame of three components of 8 bits.
  const unsigned char frame[] = {0xFF,
                                 0xC0,
                                 0,
                                 17,
                                 8,
                                 static_cast<unsigned char>(height >> 8),
                                 static_cast<unsigned char>(height),
                                 static_cast<unsigned char>(width >> 8),
                                 static_cast<unsigned char>(width),
                                 3,
                                 1,
                                 0x11,
                                 0,
                                 2,
                                 0x11,
                                 0,
                                 3,
                                 0x11,
                                 0,
                                 0xFF,
                                 0xD9};
  p.append(reinterpret_cast<const char*>(frame), sizeof frame);
  return p;
}

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
        std::vector<QPDFObjectHandle> objects = pdf->getAllObjects();
        for (QPDFObjectHandle& o : objects) (void)o.getTypeCode();
        if (files[i].pictures && !FillPlaceholders(objects, *files[i].pictures)) {
          failed[i] = "a picture of a sheet is missing";
          return;
        }
        in[i] = std::move(pdf);
      } catch (const std::exception& e) {
        failed[i] = e.what();
      }
    });
    for (size_t i = 0; i < files.size(); ++i) {
      if (!failed[i].empty()) return Status::IOError("cannot read a worker's sheets: " + failed[i]);
      if (in[i] && in[i]->getPDFVersion() > version) version = in[i]->getPDFVersion();
    }
    {
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
    }
    // The files read are let go on as many cores.
    workers::ForEachPart(in.size(), [&](size_t i) {
      pages[i].clear();
      in[i].reset();
    });
  } catch (const std::exception& e) {
    return Status::IOError(std::string("cannot assemble the job's sheets: ") + e.what());
  }
  return Status::Ok();
}

}  // namespace zv::gdi
