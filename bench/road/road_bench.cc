// road_bench [--runs N] [--no-libreoffice]: times the road of a 10-page document on the
// installed system (the deployment test's fixture: `cmake --install` of this build, both
// roles, an ordinary user's session with AutoPrint). For a 10-page PDF printed with `lp` and
// for a 10-page LibreOffice document (`soffice --pt Zelvora`), N runs each (default 20):
//   client: from the print command to the user's client holding all ten pages (its saved
//           copy written, which it does once the document is open, just before it sends it);
//   answer: from the print command to the engine's answer in the user's result file.
// Prints p50 and p95 of each in milliseconds. Needs root, cupsd and nss_wrapper.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/road/percentile.h"
#include "deploy/testing/deployed_machine.h"
#include "deploy/testing/road.h"
#include "platform/fs/files.h"

namespace {

namespace dt = zv::deploy::testing;
using Clock = std::chrono::steady_clock;

using zv::bench::Percentile;

// Takes a path; writes a flat OpenDocument text of ten pages (a page break before each
// paragraph but the first), readable by everyone.
void WriteTenPageText(const std::string& path) {
  std::ofstream t(path);
  t << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       "<office:document xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
       "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
       "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
       "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
       "office:version=\"1.2\" office:mimetype=\"application/vnd.oasis.opendocument.text\">\n"
       "<office:automatic-styles><style:style style:name=\"Break\" style:family=\"paragraph\">"
       "<style:paragraph-properties fo:break-before=\"page\"/></style:style></office:automatic-styles>\n"
       "<office:body><office:text>\n";
  for (int i = 1; i <= 10; ++i)
    t << "<text:p" << (i > 1 ? " text:style-name=\"Break\"" : "") << ">Road page " << i << "</text:p>\n";
  t << "</office:text></office:body></office:document>\n";
  t.close();
  ::chmod(path.c_str(), 0644);
}

// The times of one kind of job.
struct Times {
  std::vector<double> client, answer;
  int lost = 0;
};

// Takes the machine, the user, the print command and the result file; runs it `runs` times,
// each after the last one's answer; gives the times.
Times Drive(const dt::DeployedMachine& m, const dt::Account& who, const std::vector<std::string>& command,
            const std::string& answer, int runs) {
  Times t;
  for (int i = 0; i < runs; ++i) {
    ::unlink(answer.c_str());
    const auto before = dt::SavedDocuments(who);
    const auto start = Clock::now();
    std::string out;
    if (m.Run(&who, command, &out) != 0) {
      std::fprintf(stderr, "road_bench: the print command failed: %s\n", out.c_str());
      ++t.lost;
      continue;
    }
    const bool held = dt::WaitUntil([&] { return !dt::ChangedDocument(before, dt::SavedDocuments(who)).empty(); });
    const auto at_client = Clock::now();
    const bool answered = dt::WaitUntil([&] {
      auto text = zv::fs::ReadFile(answer);
      return text.ok() && text->find("Result=") != std::string::npos;
    });
    const auto at_answer = Clock::now();
    if (!held || !answered) {
      std::fprintf(stderr, "road_bench: run %d did not arrive\n%s\n", i + 1, m.Logs().c_str());
      ++t.lost;
      continue;
    }
    t.client.push_back(std::chrono::duration<double, std::milli>(at_client - start).count());
    t.answer.push_back(std::chrono::duration<double, std::milli>(at_answer - start).count());
  }
  return t;
}

// Takes a name and its times; prints them.
void Report(const char* name, const Times& t) {
  std::printf("%-12s runs %2zu lost %d  client p50 %7.0f ms p95 %7.0f ms  answer p50 %7.0f ms p95 %7.0f ms\n", name,
              t.client.size(), t.lost, Percentile(t.client, 0.5), Percentile(t.client, 0.95),
              Percentile(t.answer, 0.5), Percentile(t.answer, 0.95));
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 20;
  bool libreoffice = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--no-libreoffice") == 0) {
      libreoffice = false;
    } else {
      std::fprintf(stderr, "usage: road_bench [--runs N] [--no-libreoffice]\n");
      return 2;
    }
  }
  if (std::string missing = dt::DeployedMachine::Missing(); !missing.empty()) {
    std::fprintf(stderr, "road_bench %s\n", missing.c_str());
    return 2;
  }
  std::string error;
  auto m = dt::DeployedMachine::Install(ZELVORA_BUILD_DIR, ZELVORA_SOURCE_DIR, {{"aiko", 2001, ""}}, &error);
  if (!m) {
    std::fprintf(stderr, "road_bench: %s\n", error.c_str());
    return 1;
  }
  std::string dsn;
  if (std::string e = dt::SetUpOffice(*m, &dsn); !e.empty()) {
    std::fprintf(stderr, "road_bench: %s\n", e.c_str());
    return 1;
  }
  // Enough pages for every run of both kinds.
  if (std::string e = dt::Sql(dsn, "UPDATE Main SET MaxPages=100000"); !e.empty()) {
    std::fprintf(stderr, "road_bench: %s\n", e.c_str());
    return 1;
  }
  const dt::Account& aiko = m->user("aiko");
  if (zv::Status st = m->StartSession(aiko); !st.ok()) {
    std::fprintf(stderr, "road_bench: %s\n", st.ToString().c_str());
    return 1;
  }
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string answer = m->result() + "/aiko-" + std::string(host).substr(0, 49) + ".ans";

  std::vector<dt::Page> pages;
  for (int i = 1; i <= 10; ++i) pages.push_back({595.28, 841.89, "Road page " + std::to_string(i)});
  const std::string pdf = m->dir() + "/docs/road.pdf";
  dt::WritePdf(pdf, pages);
  Report("pdf (lp)", Drive(*m, aiko, {"lp", "-d", "Zelvora", "-t", "Road", pdf}, answer, runs));
  if (libreoffice) {
    const std::string doc = m->dir() + "/docs/road.fodt";
    WriteTenPageText(doc);
    Report("libreoffice",
           Drive(*m, aiko, {"soffice", "--headless", "--norestore", "--pt", "Zelvora", doc}, answer, runs));
  }
  return 0;
}
