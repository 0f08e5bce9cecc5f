// Packing and unpacking throughput of the job data codec on three kinds of job data (a
// document image of metafile pages, text-like data, incompressible data), beside zlib at
// levels 1 and 6 on the same bytes. Counters: MB, shown per second, is the throughput in
// uncompressed megabytes (10^6 bytes); ratio = uncompressed / packed size. The codec state and the output buffers
// are made once per benchmark and reused for every document; nothing is allocated per block.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "jobdoc/container.h"
#include "jobdoc/image.h"
#include "jobdoc/sample/sample_document.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace jd = zv::jobdoc;

constexpr std::size_t kDataSize = 1 << 20;

struct DataSet {
  std::string name;
  Bytes bytes;
};

std::vector<DataSet> MakeDataSets() {
  std::vector<DataSet> sets;
  jd::DocumentImage doc = jd::sample::MakeDocument(40, 400, false);
  auto image = jd::BuildDocumentImage(doc, false);
  if (!image.ok()) {
    std::fprintf(stderr, "sample document: %s\n", image.status().ToString().c_str());
    std::exit(1);
  }
  image->resize(std::min(image->size(), kDataSize));
  sets.push_back({"document", std::move(*image)});
  sets.push_back({"text", jd::sample::TextLike(kDataSize)});
  sets.push_back({"incompressible", jd::sample::Random(kDataSize)});
  return sets;
}

void SetCounters(benchmark::State& state, std::size_t raw, std::size_t packed) {
  state.counters["MB"] = benchmark::Counter(
      static_cast<double>(raw) / 1e6 * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
  state.counters["ratio"] = static_cast<double>(raw) / static_cast<double>(packed);
  state.counters["bytes"] = static_cast<double>(raw);
}

void CodecPack(benchmark::State& state, const Bytes& data) {
  auto codec = jd::NewCodecState();
  Bytes out;
  for (auto _ : state) {
    if (!jd::PackDocumentImage(data, out, *codec).ok()) state.SkipWithError("pack failed");
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), out.size());
}

void CodecUnpack(benchmark::State& state, const Bytes& data) {
  auto codec = jd::NewCodecState();
  Bytes file;
  (void)jd::PackDocumentImage(data, file, *codec);
  for (auto _ : state) {
    jd::UnpackResult r = jd::UnpackDocumentBytes(file, *codec);
    if (!r.ok() || r.document->size != data.size()) state.SkipWithError("unpack failed");
    benchmark::DoNotOptimize(r.document->buffer.data());
  }
  SetCounters(state, data.size(), file.size());
}

void ZlibPack(benchmark::State& state, const Bytes& data, int level) {
  Bytes out(compressBound(data.size()));
  uLongf n = 0;
  for (auto _ : state) {
    n = out.size();
    if (compress2(out.data(), &n, data.data(), data.size(), level) != Z_OK) {
      state.SkipWithError("compress2 failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), n);
}

void ZlibUnpack(benchmark::State& state, const Bytes& data, int level) {
  Bytes packed(compressBound(data.size()));
  uLongf n = packed.size();
  compress2(packed.data(), &n, data.data(), data.size(), level);
  Bytes out(data.size());
  for (auto _ : state) {
    uLongf m = out.size();
    if (uncompress(out.data(), &m, packed.data(), n) != Z_OK || m != data.size()) {
      state.SkipWithError("uncompress failed");
    }
    benchmark::DoNotOptimize(out.data());
  }
  SetCounters(state, data.size(), n);
}

}  // namespace

int main(int argc, char** argv) {
  static const std::vector<DataSet> sets = MakeDataSets();
  for (const DataSet& set : sets) {
    const Bytes* d = &set.bytes;
    benchmark::RegisterBenchmark(("pack/jobcodec/" + set.name).c_str(),
                                 [d](benchmark::State& s) { CodecPack(s, *d); });
    for (int level : {1, 6}) {
      benchmark::RegisterBenchmark(("pack/zlib" + std::to_string(level) + "/" + set.name).c_str(),
                                   [d, level](benchmark::State& s) { ZlibPack(s, *d, level); });
    }
    benchmark::RegisterBenchmark(("unpack/jobcodec/" + set.name).c_str(),
                                 [d](benchmark::State& s) { CodecUnpack(s, *d); });
    for (int level : {1, 6}) {
      benchmark::RegisterBenchmark(
          ("unpack/zlib" + std::to_string(level) + "/" + set.name).c_str(),
          [d, level](benchmark::State& s) { ZlibUnpack(s, *d, level); });
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
