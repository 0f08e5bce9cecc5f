// olviport: the CUPS backend of the "Zelvora-Raster" queue, the port OLVIPORT (device URI
// olviport:/OLVIPORT). It takes the page raster stream that the kelvad filter wrote and
// leaves it, with its job file, in the job's user's spool folder as "<id>.zvr", where the
// resident program's feeder reads it (see capture/backend/spool_backend.h).
#include "capture/backend/spool_backend.h"

int main(int argc, char** argv) {
  return zv::capture::RunSpoolBackend(argc, argv,
                                      {"olviport", "direct olviport:/OLVIPORT \"Unknown\" \"OLVIPORT :\"", ".zvr"});
}
