// The words of PDFs made here by groff and ghostscript survive the capture road: captured as
// records, re-recorded into the job's private text records, saved as PDF by the conversion
// library and printed through the printer surface, the text pdftotext reads back holds the
// source's characters (compared after NFKC, ligatures expanded, whitespace aside). Embedded
// fonts of an installed design are drawn as text; a font of no installed design is drawn as
// outlines that still carry their text, invisibly.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <mutex>

#include "capture/lumbrel/convert.h"
#include "capture/pdfrecords/pdfrecords.h"
#include "capture/pdfrecords/tests/capture_road.h"
#include "capture/pdfrecords/tests/page_compare.h"
#include "jobdoc/private_records.h"
#include "pdfwriter/tests/pdf_test_util.h"
#include "platform/gdi/surfaces.h"
#include "platform/testing/temp_root.h"
#include "viewer/playback/playback.h"

namespace zv::capture::pdfrecords {
namespace {

namespace fs = std::filesystem;
using pdf::testing::Quote;
using pdf::testing::RunCommand;
using pdf::testing::WriteFile;

// A man page: Times and Courier as ghostscript embeds them (subsets, no Unicode map), with
// groff's fi and fl ligatures.
constexpr const char* kManPage = R"(.TH FILE 1 "2026" "Office" "Office Manual"
.SH NAME
file \- find the first official file
.SH DESCRIPTION
The first office file is filed in the fine folder.
Efficient staff find the flaw and fix it; official files flow.
.B Bold heading with fi and fl
.I Italic words of affluent offices
.PP
.ft CR
Courier code line: file_find(2);
.ft R
)";

// PostScript whose fonts ghostscript embeds under names no installed face carries: the old
// URW name of the Times clone (a twin is installed), and a made-up font of no known design
// (its glyphs are drawn as outlines).
constexpr const char* kRenamedFonts = R"(%!PS
/Rename { % new-name family-name source-name
  findfont dup length dict begin
    { 1 index /FID ne { def } { pop pop } ifelse } forall
    /CharStrings CharStrings dup length dict copy dup /period 1 index /comma get put def
    currentdict /UniqueID undef currentdict /XUID undef currentdict /OrigFont undef
    /FontInfo FontInfo dup length dict copy dup 4 -1 roll /FamilyName exch put def
    dup /FontName exch def
  currentdict end definefont pop
} def
/NimbusRomNo9L-Regu (Nimbus Roman No9 L) /NimbusRoman-Regular Rename
/NimbusSanL-Bold (Nimbus Sans L) /NimbusSans-Bold Rename
/Zqxvrt (Zqxvrt) /NimbusRoman-Regular Rename
/NimbusRomNo9L-Regu findfont 12 scalefont setfont
72 720 moveto (Old URW name for the Times design, with fine fluffy offices.) show
/NimbusSanL-Bold findfont 12 scalefont setfont
72 700 moveto (A bold heading in the Helvetica design) show
/Zqxvrt findfont 14 scalefont setfont
72 660 moveto (Official minutes of the fourth quarter meeting) show
72 640 moveto (Quarterly figures: 1,234 units; 98% efficiency) show
showpage
)";

// The page without its hidden text runs (its header's length and record count patched).
std::vector<std::uint8_t> WithoutHiddenText(const std::vector<std::uint8_t>& emf, std::size_t* hidden) {
  std::vector<std::uint8_t> out;
  std::uint32_t records = 0;
  for (std::size_t at = 0; at + 8 <= emf.size();) {
    std::uint32_t size;
    std::memcpy(&size, emf.data() + at + 4, 4);
    if (size < 8 || at + size > emf.size()) break;
    auto pr = jobdoc::ParsePrivateRecord(std::span<const std::uint8_t>(emf.data() + at, size));
    if (pr.ok() && pr->kind == jobdoc::PrivateRecord::Kind::kHiddenTextRun) {
      ++*hidden;
    } else {
      out.insert(out.end(), emf.begin() + static_cast<std::ptrdiff_t>(at),
                 emf.begin() + static_cast<std::ptrdiff_t>(at + size));
      ++records;
    }
    at += size;
  }
  const auto bytes = static_cast<std::uint32_t>(out.size());
  if (out.size() >= 56) {
    std::memcpy(out.data() + 48, &bytes, 4);
    std::memcpy(out.data() + 52, &records, 4);
  }
  return out;
}

struct Outcome {
  double saved_recall = 0, printed_recall = 0;
  std::size_t saved_bytes_per_page = 0;
  std::size_t text_runs = 0, outline_glyphs = 0;
  std::string saved_fonts;
  std::string saved_text, printed_text;
  std::size_t hidden_runs = 0;
};

class WordsTest : public ::testing::Test {
 protected:
  zv::testing::TempRoot root_;
  fs::path dir_ = root_.path();

  // The share of the reference text's characters (a multiset, NFKC, whitespace aside) that
  // the other text holds.
  double Recall(const fs::path& reference, const fs::path& got) {
    const std::string script =
        "import sys,unicodedata,collections\n"
        "def chars(p):\n"
        "  t=unicodedata.normalize('NFKC',open(p,encoding='utf-8',errors='replace').read())\n"
        "  return collections.Counter(c for c in t if not c.isspace())\n"
        "r=chars(sys.argv[1]);g=chars(sys.argv[2])\n"
        "n=sum(r.values());print(sum(min(v,g[c]) for c,v in r.items())/n if n else 0)\n";
    WriteFile(dir_ / "recall.py", script);
    const std::string out =
        RunCommand("/usr/bin/python3 " + Quote(dir_ / "recall.py") + " " + Quote(reference) + " " + Quote(got)).out;
    return std::atof(out.c_str());
  }

  // The page as the preview draws it (the repairing playback onto a bitmap at 100 dpi).
  static std::vector<std::uint32_t> Preview(const std::vector<std::uint8_t>& page) {
    auto bmp = gdi::MemoryBitmap::Create(827, 1169, 24, 100);
    if (!bmp.ok()) return {};
    std::lock_guard<std::recursive_mutex> lock(playback::DrawingLock());
    playback::PlaybackState ps;
    playback::PlayRepaired(page, (*bmp)->dc(), win::RECT{0, 0, 827, 1169}, ps);
    std::vector<std::uint32_t> px;
    for (int y = 0; y < 1169; ++y)
      for (int x = 0; x < 827; ++x) px.push_back((*bmp)->Pixel(x, y) & 0xFFFFFF);
    return px;
  }

  // The first page of a PDF as pdftoppm draws it at 100 dpi.
  std::string Render(const fs::path& pdf) {
    return RunCommand("pdftoppm -r 100 -f 1 -l 1 " + Quote(pdf)).out;
  }

  Outcome Road(const fs::path& source) {
    Outcome o;
    const std::vector<PageRecords> pages = testing::CapturePages(source, 200);
    for (const PageRecords& p : pages) {
      o.text_runs += p.stats.text_runs;
      o.outline_glyphs += p.stats.outline_glyphs;
    }
    const std::vector<std::vector<std::uint8_t>> rerecorded = testing::RerecordPages(pages, 200);
    if (rerecorded.empty()) return o;
    const std::vector<lumbrel::Page> saved_pages = testing::SavedPages(rerecorded, pages);
    const fs::path saved = dir_ / (source.stem().string() + "-saved.pdf");
    EXPECT_TRUE(lumbrel::ConvertToPdf(saved.string(), saved_pages).ok());
    o.saved_bytes_per_page = fs::file_size(saved) / rerecorded.size();
    o.saved_fonts = RunCommand("pdffonts " + Quote(saved)).out;

    const fs::path printed = dir_ / (source.stem().string() + "-printed.pdf");
    testing::PrintPages(rerecorded, pages, printed);

    // Hidden text draws nothing: the preview, the saved and the printed pages look the same
    // without it.
    std::vector<std::vector<std::uint8_t>> bare;
    for (const auto& b : rerecorded) bare.push_back(WithoutHiddenText(b, &o.hidden_runs));
    if (o.hidden_runs > 0) {
      for (std::size_t i = 0; i < bare.size(); ++i) EXPECT_EQ(Preview(rerecorded[i]), Preview(bare[i]));
      const fs::path bare_printed = dir_ / "bare-printed.pdf", bare_saved = dir_ / "bare-saved.pdf";
      testing::PrintPages(bare, pages, bare_printed);
      std::vector<lumbrel::Page> bare_pages = saved_pages;
      for (std::size_t i = 0; i < bare.size(); ++i) bare_pages[i].metafile = bare[i];
      EXPECT_TRUE(lumbrel::ConvertToPdf(bare_saved.string(), bare_pages).ok());
      EXPECT_EQ(Render(printed), Render(bare_printed));
      EXPECT_EQ(Render(saved), Render(bare_saved));
    }
    const fs::path want = dir_ / "want.txt", got_saved = dir_ / "saved.txt", got_printed = dir_ / "printed.txt";
    RunCommand("pdftotext " + Quote(source) + " " + Quote(want));
    RunCommand("pdftotext " + Quote(saved) + " " + Quote(got_saved));
    RunCommand("pdftotext " + Quote(printed) + " " + Quote(got_printed));
    o.saved_text = RunCommand("cat " + Quote(got_saved)).out;
    o.printed_text = RunCommand("cat " + Quote(got_printed)).out;
    o.saved_recall = Recall(want, got_saved);
    o.printed_recall = Recall(want, got_printed);
    return o;
  }
};

TEST_F(WordsTest, TextOfGroffAndGhostscriptSurvivesSavingAndPrinting) {
  WriteFile(dir_ / "man.man", kManPage);
  ASSERT_EQ(RunCommand("groff -man -Tps " + Quote(dir_ / "man.man") + " > " + Quote(dir_ / "man.ps")).status, 0);
  ASSERT_EQ(RunCommand("ps2pdf " + Quote(dir_ / "man.ps") + " " + Quote(dir_ / "man.pdf")).status, 0);
  ASSERT_EQ(RunCommand("qpdf --rotate=90 " + Quote(dir_ / "man.pdf") + " " + Quote(dir_ / "rotated.pdf")).status, 0);
  ASSERT_EQ(RunCommand("qpdf --rotate=270 " + Quote(dir_ / "man.pdf") + " " + Quote(dir_ / "rotated270.pdf")).status,
            0);
  WriteFile(dir_ / "renamed.ps", kRenamedFonts);
  ASSERT_EQ(RunCommand("ps2pdf " + Quote(dir_ / "renamed.ps") + " " + Quote(dir_ / "renamed.pdf")).status, 0);

  struct Case {
    const char* file;
    bool all_text;  // every glyph drawn as text
    std::vector<std::string> words;  // read back whole, ligatures as letters
  };
  const std::vector<std::string> man_words = {"first official file", "Efficient", "flaw", "flow", "affluent",
                                              "offices", "file_find(2);"};
  for (const Case& c : {Case{"man.pdf", true, man_words}, Case{"rotated.pdf", true, man_words},
                        Case{"rotated270.pdf", true, man_words},
                        Case{"renamed.pdf", false, {"fluffy", "offices", "Official minutes", "efficiency"}}}) {
    SCOPED_TRACE(c.file);
    const Outcome o = Road(dir_ / c.file);
    std::printf("%s: saved recall %.3f, printed recall %.3f, %zu bytes per saved page, %zu text runs, %zu outline glyphs\n",
                c.file, o.saved_recall, o.printed_recall, o.saved_bytes_per_page, o.text_runs, o.outline_glyphs);
    EXPECT_GE(o.saved_recall, 0.98);
    EXPECT_GE(o.printed_recall, 0.98);
    EXPECT_GT(o.text_runs, 0u);
    EXPECT_THAT(o.saved_fonts, ::testing::HasSubstr("TrueType"));
    for (const std::string& w : c.words) {
      EXPECT_THAT(o.saved_text, ::testing::HasSubstr(w));
      EXPECT_THAT(o.printed_text, ::testing::HasSubstr(w));
    }
    if (c.all_text) {
      EXPECT_EQ(o.outline_glyphs, 0u);
    } else {
      EXPECT_GT(o.outline_glyphs, 0u);
      EXPECT_GT(o.hidden_runs, 0u);
    }
  }
}

}  // namespace
}  // namespace zv::capture::pdfrecords
