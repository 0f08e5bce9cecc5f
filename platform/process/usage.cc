#include "platform/process/usage.h"

#include <cstdio>

namespace zv::process {
namespace {

using Kind = Option::Kind;

// The options Qt's application objects take from the command line on Linux, as Qt
// documents them (QGuiApplication, QApplication and the X11 platform), single-dash forms.
constexpr Option kQtOptions[] = {
    {"-platform", Kind::kValue},        {"-platformpluginpath", Kind::kValue},
    {"-platformtheme", Kind::kValue},   {"-plugin", Kind::kValue},
    {"-qwindowgeometry", Kind::kValue}, {"-qwindowicon", Kind::kValue},
    {"-qwindowtitle", Kind::kValue},    {"-session", Kind::kValue},
    {"-display", Kind::kValue},         {"-geometry", Kind::kValue},
    {"-style", Kind::kValue},           {"-style=", Kind::kJoined},
    {"-stylesheet", Kind::kValue},      {"-stylesheet=", Kind::kJoined},
    {"-qmljsdebugger=", Kind::kJoined}, {"-reverse", Kind::kFlag},
    {"-widgetcount", Kind::kFlag},
};

void Write(FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

// Takes an argument and an option; gives whether the argument is that option.
bool Matches(const std::string& arg, const Option& o) {
  if (o.kind == Kind::kJoined)
    return arg.size() >= o.name.size() && std::string_view(arg).substr(0, o.name.size()) == o.name;
  return arg == o.name;
}

}  // namespace

int Usage::Help() const {
  Write(stdout, text_);
  std::fflush(stdout);
  return 0;
}

int Usage::Error(std::string_view reason) const {
  std::string line = std::string(program_) + ": " + std::string(reason) + "\n";
  Write(stderr, line);
  Write(stderr, text_);
  return kUsageExitCode;
}

std::optional<int> CheckOptions(const std::vector<std::string>& args, std::span<const Option> options,
                                const Usage& usage, std::vector<std::string>* operands) {
  if (operands) operands->clear();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") return usage.Help();
    if (a.size() < 2 || a[0] != '-') {
      if (operands) operands->push_back(a);
      continue;
    }
    const Option* known = nullptr;
    for (const Option& o : options)
      if (Matches(a, o)) {
        known = &o;
        break;
      }
    if (known == nullptr) return usage.Error("unknown option " + a);
    if (known->kind != Kind::kValue) continue;
    if (i + 1 >= args.size()) return usage.Error("option " + a + " needs a value");
    ++i;
  }
  return std::nullopt;
}

std::vector<Option> WithQtOptions(std::span<const Option> own) {
  // Qt reads each of its options with one dash or two; the names below live as long as the
  // program (a static table of the two-dash spellings).
  static const std::vector<std::string> two_dash = [] {
    std::vector<std::string> names;
    for (const Option& o : kQtOptions) names.push_back("-" + std::string(o.name));
    return names;
  }();
  std::vector<Option> all(own.begin(), own.end());
  for (std::size_t i = 0; i < std::size(kQtOptions); ++i) {
    all.push_back(kQtOptions[i]);
    all.push_back({two_dash[i], kQtOptions[i].kind});
  }
  return all;
}

}  // namespace zv::process
