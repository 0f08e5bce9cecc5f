// Capture files on their way to a client. A capture file is made in the temporary folder and
// held locked (flock) by the process that writes it until its hand-over has been tried; one
// that no client took waits in the "kept" folder beside the temporary folder, with a side
// file naming the program to start and the job's title, until the next client start. What
// is left unlocked in the temporary folder by a process that ended is swept.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/status.h"

namespace zv::capture {

// Takes the temporary folder; gives the kept folder beside it ("<parent>/kept").
std::string KeptFolder(std::string_view temp_folder);

// Takes a file name; true for a capture file's name ("WXQ.tmp").
bool IsCaptureName(std::string_view name);

// A job waiting in the kept folder.
struct KeptJob {
  std::string path;     // the capture file in the kept folder
  std::string program;  // the client program to start with it
  std::string title;    // UTF-8
  long long order = 0;  // when it was first kept (ns): jobs go to the client in this order
};

// Takes a capture file, the client program, the title and the job's place in the order (0:
// now, for a job kept for the first time); moves the file into the kept folder of its folder
// (made mode 0700) beside its side file. IOError when it cannot.
Status KeepCapture(const std::string& capture_path, const std::string& program, const std::string& title,
                   long long order = 0);

// Takes the kept folder; gives its jobs in their order.
std::vector<KeptJob> ListKeptJobs(const std::string& kept_folder);

// Takes a kept job; removes its side file (the capture file has gone to the client).
void ForgetKeptJob(const KeptJob& job);

// Takes a capture file; gives an open descriptor holding its lock (-1 when it cannot be
// taken). Closing the descriptor frees it.
int LockCaptureFile(const std::string& path);

// Takes the temporary folder and names to spare; removes every capture file there that no
// process holds locked and that is not spared, and, when `page_files` is set, the client's
// page files ("PRC.tmp"). Gives the names removed.
std::vector<std::string> SweepCaptureFolder(const std::string& temp_folder, const std::set<std::string>& spare,
                                            bool page_files);

// Takes the temporary folder; gives the capture files' names there.
std::set<std::string> CaptureNames(const std::string& temp_folder);

}  // namespace zv::capture
