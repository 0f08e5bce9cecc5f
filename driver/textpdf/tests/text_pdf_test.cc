// The text filter run as CUPS runs it: a UTF-8 file with Japanese, Latin and Cyrillic lines,
// a line longer than the page is wide, tabs, a form feed and invalid bytes comes out as PDF on
// the job's paper whose text poppler reads back whole, in the IPA face, wrapped inside the
// margins, the form feed's text on the next page.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "capture/spool/spool.h"
#include "driver/textpdf/text_pdf.h"
#include "platform/fs/files.h"
#include "platform/process/process.h"
#include "platform/testing/bin_dir.h"
#include "platform/testing/char_counts.h"
#include "platform/testing/temp_root.h"

namespace zv::driver {
namespace {

// The test file: its bytes and the text a reader should find in it (invalid bytes as U+FFFD,
// control characters gone).
struct Fixture {
  std::string bytes, text;
};

Fixture MixedText() {
  Fixture f;
  auto both = [&](const std::string& s) { f.bytes += s, f.text += s; };
  both("文書の見出し：日本語の行です。ｶﾀｶﾅ\n");
  both("Latin: The quick brown fox jumps over the lazy dog. 0123456789 ~!@#$%^&*()_+{}|\\\n");
  both("Кириллица: Съешь же ещё этих мягких французских булок.\n");
  both("\tTabbed\tcolumns\t表\there\r\n");
  std::string longline = "長い行:";
  for (int i = 0; i < 30; ++i) longline += "ABCDEFGHIJ漢字かなカナ";
  both(longline + "\n");
  f.bytes += "bad \xff\xfe bytes \xe6\x97 end\x01\x7f\n";
  f.text += "bad \uFFFD\uFFFD bytes \uFFFD end\n";
  both("\f二ページ目。\n");
  return f;
}

// Takes a program with its arguments and an output file; runs it; gives its exit code.
int RunProgram(const std::vector<std::string>& argv, const std::string& output) {
  process::StartOptions o;
  o.argv = argv;
  o.output_file = output;
  auto p = process::Start(o);
  if (!p.ok()) return -1;
  auto code = p->Wait(120000);
  return code.ok() ? *code : -1;
}

class TextFilter : public ::testing::Test {
 protected:
  testing::TempRoot root_;
  std::string Path(const std::string& name) const { return root_.str() + "/" + name; }
  // Takes the options, the PPD text and whether the text comes on standard input; runs the
  // filter on `input` into out.pdf; gives its exit code (its messages in filter.err).
  int Filter(const std::string& input, const std::string& options, const std::string& ppd, bool from_stdin) {
    EXPECT_TRUE(fs::WriteFileAtomic(Path("queue.ppd"), ppd).ok());
    const std::string redirect = from_stdin ? " < \"$4\"" : " \"$4\"";
    return RunProgram({"/bin/sh", "-c",
                "PPD=\"$1\" exec \"$2\" 12 aiko 'メモ' 3 \"$3\"" + redirect + " > \"$5\" 2> \"$6\"", "sh",
                Path("queue.ppd"), testing::BinPath("zelvora-texttopdf"), options, input, Path("out.pdf"),
                Path("filter.err")},
               Path("run.out"));
  }
  std::string Err() const {
    auto text = fs::ReadFile(Path("filter.err"));
    return text.ok() ? *text : "";
  }
  std::string Tool(const std::vector<std::string>& argv) {
    EXPECT_EQ(RunProgram(argv, Path("tool.out")), 0) << argv[0];
    auto text = fs::ReadFile(Path("tool.out"));
    std::remove(Path("tool.out").c_str());
    return text.ok() ? *text : "";
  }
};

TEST_F(TextFilter, EveryCharacterArrivesOnTheJobsPaper) {
  const Fixture f = MixedText();
  ASSERT_TRUE(fs::WriteFileAtomic(Path("mixed.txt"), f.bytes).ok());
  struct Case {
    std::string options, ppd_default;
    bool from_stdin;
    std::string paper;
    bool landscape;
  };
  const Case cases[] = {
      {"PageSize=A4 media=A4", "A4", false, "A4", false},
      {"media=na_letter_8.5x11in", "A4", false, "Letter", false},
      {"PageSize=A3 orientation-requested=4", "A4", true, "A3", true},
      {"job-uuid=urn:uuid:1 cpi=10 lpi=8", "Letter", true, "Letter", false},  // the queue's default paper
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    ASSERT_EQ(Filter(Path("mixed.txt"), c.options, "*PPD-Adobe: \"4.3\"\n*DefaultPageSize: " + c.ppd_default + "\n",
                     c.from_stdin),
              0)
        << Err();
    const std::string info = Tool({"pdfinfo", Path("out.pdf")});
    double w = 0, h = 0;
    const auto at = info.find("Page size:");
    ASSERT_NE(at, std::string::npos) << info;
    ASSERT_EQ(std::sscanf(info.c_str() + at, "Page size: %lf x %lf", &w, &h), 2) << info;
    const auto paper = capture::FindPaper(c.paper);
    ASSERT_TRUE(paper.has_value());
    double pw = paper->width * 72.0 / 254.0, ph = paper->length * 72.0 / 254.0;
    if (c.landscape) std::swap(pw, ph);
    EXPECT_NEAR(w, pw, 0.1);
    EXPECT_NEAR(h, ph, 0.1);
    EXPECT_NE(info.find("Pages:           2"), std::string::npos) << info;
    EXPECT_NE(info.find("Title:           メモ"), std::string::npos) << info;

    const std::string text = Tool({"pdftotext", "-enc", "UTF-8", Path("out.pdf"), "-"});
    EXPECT_EQ(testing::MissingCharacters(f.text, text), "") << text;
    EXPECT_EQ(testing::MissingCharacters(text, f.text), "") << "read back but not in the file:\n" << text;
    EXPECT_NE(Tool({"pdftotext", "-f", "2", "-l", "2", "-enc", "UTF-8", Path("out.pdf"), "-"}).find("二ページ目。"),
              std::string::npos);
    EXPECT_NE(Tool({"pdffonts", Path("out.pdf")}).find("IPAGothic"), std::string::npos);
    // Every word stands inside the page's margins: the long line wrapped.
    const std::string boxes = Tool({"pdftotext", "-bbox", Path("out.pdf"), "-"});
    const std::regex box("xMin=\"([0-9.]+)\"[^>]*xMax=\"([0-9.]+)\"");
    int words = 0;
    for (auto it = std::sregex_iterator(boxes.begin(), boxes.end(), box); it != std::sregex_iterator(); ++it) {
      ++words;
      EXPECT_GE(std::stod((*it)[1]), 36 - 0.5);
      EXPECT_LE(std::stod((*it)[2]), w - 36 + 0.5);
    }
    EXPECT_GT(words, 20);
  }
}

TEST_F(TextFilter, AnEmptyFileIsOneBlankPageAndMarginsWithoutRoomAreRefused) {
  ASSERT_TRUE(fs::WriteFileAtomic(Path("empty.txt"), "").ok());
  ASSERT_EQ(Filter(Path("empty.txt"), "", "", false), 0);
  EXPECT_NE(Tool({"pdfinfo", Path("out.pdf")}).find("Pages:           1"), std::string::npos);

  ASSERT_TRUE(fs::WriteFileAtomic(Path("one.txt"), "one line\n").ok());
  EXPECT_EQ(Filter(Path("one.txt"), "page-left=297 page-right=297", "", false), 1);
  EXPECT_NE(Err().find("ERROR: "), std::string::npos);
  EXPECT_EQ(Filter(Path("missing.txt"), "", "", false), 1);
}

// Cyrillic is set half-width like Latin (not in the Japanese face's full-width forms), and a
// line of words longer than the page wraps at spaces, never inside a word.
TEST_F(TextFilter, CyrillicIsHalfWidthAndLongLinesWrapAtSpaces) {
  std::string words;
  for (int i = 10; i < 50; ++i) words += "word" + std::to_string(i) + " ";
  const std::string text = "ЖЖЖЖЖЖЖЖЖЖ\nAAAAAAAAAA\n" + words + "\n";
  std::string pdf;
  ASSERT_TRUE(WriteTextPdf(text, TextLayout{}, [&](std::span<const std::uint8_t> b) {
                pdf.append(reinterpret_cast<const char*>(b.data()), b.size());
                return true;
              }).ok());
  ASSERT_TRUE(fs::WriteFileAtomic(Path("w.pdf"), pdf).ok());
  const std::string boxes = Tool({"pdftotext", "-bbox", Path("w.pdf"), "-"});
  const std::regex box("xMin=\"([0-9.]+)\"[^>]*xMax=\"([0-9.]+)\"[^>]*>([^<]*)<");
  std::map<std::string, double> width;
  std::vector<std::string> read;
  for (auto it = std::sregex_iterator(boxes.begin(), boxes.end(), box); it != std::sregex_iterator(); ++it) {
    width[(*it)[3]] = std::stod((*it)[2]) - std::stod((*it)[1]);
    read.push_back((*it)[3]);
  }
  // Ten letters at 12 per inch: 60 points, as ten Latin letters.
  ASSERT_TRUE(width.count("ЖЖЖЖЖЖЖЖЖЖ") && width.count("AAAAAAAAAA")) << boxes;
  EXPECT_NEAR(width["ЖЖЖЖЖЖЖЖЖЖ"], 60, 3);
  EXPECT_NEAR(width["AAAAAAAAAA"], 60, 3);
  // Every word read back whole: the 280 columns broke at spaces.
  std::vector<std::string> expected = {"ЖЖЖЖЖЖЖЖЖЖ", "AAAAAAAAAA"};
  for (int i = 10; i < 50; ++i) expected.push_back("word" + std::to_string(i));
  EXPECT_EQ(read, expected) << boxes;
  EXPECT_NE(Tool({"pdffonts", Path("w.pdf")}).find("DejaVuSansMono"), std::string::npos);
}

// Form feeds: two in a row leave a blank page, one at the end adds none; CR LF and a lone CR
// end lines; a leading byte order mark is no character.
TEST(PrintableText, LineEndsControlsAndPages) {
  EXPECT_EQ(PrintableText("\xEF\xBB\xBF" "a\r\nb\rc\x1b[1m\x08\xc2\x85.\n"), "a\nb\nc[1m.\n");
  // One replacement character per maximal invalid subpart: an overlong three-byte sequence
  // is three, a truncated one a single one.
  EXPECT_EQ(PrintableText("a\xE0\x80\x80"
                          "b\xE3\x81"
                          "c"),
            "a\uFFFD\uFFFD\uFFFDb\uFFFDc");
  struct Case {
    std::string text;
    int pages;
  };
  for (const Case& c : {Case{"a\f", 1}, Case{"a\f\fb", 3}, Case{"\fa", 1}, Case{"a\f\nb\n", 2}, Case{"", 1}}) {
    int pages = 0;
    std::string pdf;
    ASSERT_TRUE(WriteTextPdf(c.text, TextLayout{}, [&](std::span<const std::uint8_t> b) {
                  pdf.append(reinterpret_cast<const char*>(b.data()), b.size());
                  return true;
                }, &pages).ok());
    EXPECT_EQ(pages, c.pages) << c.text;
    EXPECT_EQ(pdf.substr(0, 5), "%PDF-");
  }
  // A write that fails is reported.
  EXPECT_EQ(WriteTextPdf("x", TextLayout{}, [](std::span<const std::uint8_t>) { return false; }).code(),
            Status::Code::kIOError);
}

}  // namespace
}  // namespace zv::driver
