// The body of the virtual printer's CUPS backends: each drops to the job's user and leaves the
// document with its job file in that user's spool folder, where the user's resident program
// picks it up. Run by CUPS as root (installed root-owned, mode 0700); run by an ordinary user
// a backend serves only that user.
//
// Exit codes follow CUPS: 0 done, 3 hold the job (it could not be written), 5 cancel the job
// (unknown user, another user's job, a bad request).
#pragma once

namespace zv::capture {

struct SpoolBackendKind {
  const char* name;                // the program's name, for messages
  const char* discovery;           // the line printed when run without arguments
  const char* document_extension;  // of the document in the spool folder: ".pdf", ".zvr"
};

// Takes the backend's arguments (job-id user title copies options [file]) and its kind; copies
// the document (the file, or standard input) into the user's spool folder and writes the job
// file last. Gives the exit code.
int RunSpoolBackend(int argc, char** argv, const SpoolBackendKind& kind);

}  // namespace zv::capture
