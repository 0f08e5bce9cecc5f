// Fuzzes the document file reader: any bytes go in as a packed file; a file that unpacks
// is walked as an image with and without page trailers.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "jobdoc/container.h"
#include "jobdoc/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::unique_ptr<zv::jobdoc::JobCodecState> state = zv::jobdoc::NewCodecState();
  zv::jobdoc::UnpackResult r = zv::jobdoc::UnpackDocumentBytes({data, size}, *state);
  if (r.ok()) {
    for (bool trailers : {false, true}) {
      (void)zv::jobdoc::ReadDocumentImage(r.document->image(), trailers);
    }
  }
  return 0;
}
