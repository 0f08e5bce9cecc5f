// libFuzzer target: any bytes through the header parser, the record walk and every view.
// Built only with -DZELVORA_FUZZ=ON and clang; run it with the sanitizers for best effect.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/gdi/emf/reader.h"
#include "platform/gdi/emf/records.h"
#include "platform/gdi/emf/tests/fixture.h"

namespace {

// Touches every byte a view hands out, so out-of-range views are caught by the sanitizers.
volatile std::uint64_t sink;

void Touch(std::span<const std::uint8_t> s) {
  std::uint64_t sum = 0;
  for (std::uint8_t b : s) sum += b;
  sink = sink + sum;
}

void Touch(const zv::emf::Points& p) {
  for (std::size_t i = 0; i < p.size(); ++i) sink = sink + std::uint64_t(std::uint32_t(p[i].x)) + std::uint32_t(p[i].y);
}

void Touch(const std::optional<zv::emf::Dib>& d) {
  if (!d) return;
  Touch(d->info);
  Touch(d->bits);
  Touch(d->colors.bytes());
  Touch(d->palette_indices.bytes());
  for (std::uint32_t i = 0; i < d->rows; ++i) Touch(d->StoredRow(i));
}

void Touch(const zv::emf::Text& t) {
  Touch(t.chars);
  Touch(t.dx.bytes());
  sink = sink + t.Utf16().size();
}

void Views(const zv::emf::Record& r) {
  using namespace zv::emf;
  if (auto v = ReadPoly(r); v.ok()) Touch(v->points);
  if (auto v = ReadPolyPoly(r); v.ok()) {
    Touch(v->points);
    Touch(v->counts.bytes());
  }
  if (auto v = ReadPolyDraw(r); v.ok()) {
    Touch(v->points);
    Touch(v->types.bytes());
  }
  if (auto v = ReadExtSelectClipRgn(r); v.ok() && v->region) Touch(v->region->rects.bytes());
  if (auto v = ReadRegionPaint(r); v.ok()) Touch(v->region.rects.bytes());
  if (auto v = ReadBlt(r); v.ok()) Touch(v->source);
  if (auto v = ReadMaskBlt(r); v.ok()) {
    Touch(v->source);
    Touch(v->mask);
  }
  if (auto v = ReadPlgBlt(r); v.ok()) {
    Touch(v->source);
    Touch(v->mask);
  }
  if (auto v = ReadStretchDib(r); v.ok()) Touch(v->source);
  if (auto v = ReadDibToDevice(r); v.ok()) Touch(v->source);
  if (auto v = ReadPatternBrush(r); v.ok()) Touch(std::optional<Dib>(v->pattern));
  if (auto v = ReadExtCreatePen(r); v.ok()) {
    Touch(v->style_entries.bytes());
    Touch(v->pattern);
  }
  if (auto v = ReadText(r); v.ok()) Touch(*v);
  if (auto v = ReadPolyText(r); v.ok())
    for (const auto& t : *v) Touch(t);
  if (auto v = ReadComment(r); v.ok()) {
    Touch(v->payload);
    if (v->data) Touch(*v->data);
  }
  if (auto v = ReadGradientFill(r); v.ok()) {
    Touch(v->vertices.bytes());
    Touch(v->indices.bytes());
  }
  if (auto v = ReadCreatePalette(r); v.ok()) Touch(v->entries.bytes());
  (void)ReadCreateFont(r);
  (void)ReadObjectIndex(r);
}

}  // namespace

// With ZV_EMF_FUZZ_SEED naming a file, writes a metafile holding every kind of record there
// (a seed for the corpus) before fuzzing starts.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* path = std::getenv("ZV_EMF_FUZZ_SEED")) {
    const auto seed = zv::emf::testing::RichMetafile();
    if (std::FILE* f = std::fopen(path, "wb")) {
      std::fwrite(seed.data(), 1, seed.size(), f);
      std::fclose(f);
    }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto mf = zv::emf::Metafile::Parse(std::span<const std::uint8_t>(data, size));
  if (!mf.ok()) return 0;
  zv::emf::RecordReader rd = mf->records();
  zv::emf::Record r;
  while (rd.Next(&r)) {
    (void)zv::emf::Validate(r);
    Views(r);
  }
  return 0;
}
