// zelvora: the CUPS backend of the "Zelvora" queue. It never reads the document: the PDF goes
// with its job file into the job's user's spool folder (see spool_backend.h).
#include "capture/backend/spool_backend.h"

int main(int argc, char** argv) {
  return zv::capture::RunSpoolBackend(argc, argv,
                                      {"zelvora", "direct zelvora \"Unknown\" \"Zelvora Printer\"", ".pdf"});
}
