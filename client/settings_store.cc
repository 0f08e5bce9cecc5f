#include "client/settings_store.h"

#include <cmath>
#include <cstdio>

#include "client/config.h"
#include "platform/paths/paths.h"
#include "platform/registry/registry.h"

namespace zv::client {
namespace {

using registry::Key;
using registry::RootKey;

// The DWORD values in the order in which they are written, with their fields; texts are
// written at their places by name.
struct DwordValue {
  const char* name;
  int32_t ClientSettings::*field;
};

}  // namespace

int32_t ToTenths(double value) { return static_cast<int32_t>(std::lround(value * 10.0)); }

Result<bool> LoadSettings(ClientSettings* s, const std::string& program_folder, bool auto_print) {
  auto key = Key::Create(RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return key.status();
  auto conv = Key::Open(RootKey::kCurrentUser, kConvKey);
  if (!conv.ok()) {
    auto made = Key::Create(RootKey::kCurrentUser, kConvKey);
    if (!made.ok()) return made.status();
    auto temp = paths::TempFolder();
    (void)made->SetDword("OutKind", 0);
    (void)made->SetString("Outdir", (temp.ok() ? *temp : std::string("/tmp")) + "/");
  }
  *s = ClientSettings{};
  s->auto_save_dir = program_folder;
  bool all = true;
  auto dword = [&](const char* name, int32_t* out) {
    auto v = key->GetDword(name);
    if (v.ok()) {
      *out = static_cast<int32_t>(*v);
    } else {
      all = false;
    }
  };
  auto text = [&](const char* name, std::string* out) {
    auto v = key->GetString(name);
    if (v.ok()) {
      *out = *v;
    } else {
      all = false;
    }
  };
  auto def = key->GetBinary("DefSetting");
  if (def.ok() && def->size() >= 4) {
    s->def_setting = static_cast<uint8_t>((*def)[0]) | static_cast<uint8_t>((*def)[1]) << 8 |
                     static_cast<uint8_t>((*def)[2]) << 16 |
                     static_cast<uint32_t>(static_cast<uint8_t>((*def)[3])) << 24;
  } else {
    all = false;
  }
  text("DefPrinter", &s->def_printer);
  dword("DefYousiSize", &s->def_yousi_size);
  for (auto [name, field] : {DwordValue{"Left", &ClientSettings::left},
                             {"Top", &ClientSettings::top},
                             {"Width", &ClientSettings::width},
                             {"Height", &ClientSettings::height},
                             {"ThumbnailCount", &ClientSettings::thumbnail},
                             {"Lodrin", &ClientSettings::lodrin},
                             {"PageLine", &ClientSettings::page_line},
                             {"TOffset", &ClientSettings::t_offset},
                             {"LOffset", &ClientSettings::l_offset},
                             {"DestSize", &ClientSettings::dest_size}})
    dword(name, &(s->*field));
  text("OutputPrinter", &s->output_printer);
  dword("PaperSize", &s->paper_size);
  text("Form", &s->form);
  dword("Copies", &s->copies);
  for (auto [name, field] : {DwordValue{"Collate", &ClientSettings::collate},
                             {"DupCheck", &ClientSettings::dup_check},
                             {"MaxPages", &ClientSettings::max_pages},
                             {"PageCount", &ClientSettings::page_count},
                             {"MaxPages_Color", &ClientSettings::max_color},
                             {"PageCount_Color", &ClientSettings::count_color},
                             {"RealCount", &ClientSettings::real_count},
                             {"OriginalCount", &ClientSettings::original_count}})
    dword(name, &(s->*field));
  text("AutoSaveDir", &s->auto_save_dir);
  dword("AutoSaveTimes", &s->auto_save_times);
  dword("SaveTimes", &s->save_times);
  dword("LastUpdate", &s->last_update);

  if (s->page_line < 0 || s->page_line > 3) s->page_line = 0;
  if (s->thumbnail < 0 || s->thumbnail > 3) s->thumbnail = 0;
  if (auto_print) s->paper_size = 9;
  const uint32_t bits = s->def_setting;
  if (bits & 0x01) s->output_printer = s->def_printer;
  if (bits & 0x02) s->paper_size = s->def_yousi_size;
  if (bits & 0x04) s->thumbnail = 0;
  if (bits & 0x08) s->lodrin = 1;
  if (bits & 0x10) s->page_line = 0;
  if (bits & 0x20) s->t_offset = 0;
  if (bits & 0x40) s->l_offset = 0;
  if (bits & 0x80) s->dest_size = 1000;
  s->copies = 1;  // the copies field starts at 1 whatever was stored
  return all;
}

Status SaveSettings(const ClientSettings& s, int printing_sheets, int printing_pages) {
  auto key = Key::Create(RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return key.status();
  Status st = Status::Ok();
  auto put = [&](const char* name, int32_t v) {
    if (st.ok()) st = key->SetDword(name, static_cast<uint32_t>(v));
  };
  auto put_text = [&](const char* name, const std::string& v) {
    if (st.ok()) st = key->SetString(name, v);
  };
  put("Left", s.left);
  put("Top", s.top);
  put("Width", s.width);
  put("Height", s.height);
  put("ThumbnailCount", s.thumbnail);
  put("Lodrin", s.lodrin);
  put("PageLine", s.page_line);
  put("TOffset", s.t_offset);
  put("LOffset", s.l_offset);
  put("DestSize", s.dest_size);
  put_text("OutputPrinter", s.output_printer);
  put("PaperSize", s.paper_size);
  put_text("Form", s.form);
  put("Copies", s.copies);
  put("Collate", s.collate);
  put("DupCheck", s.dup_check);
  put("MaxPages", s.max_pages);
  put("PageCount", s.page_count);
  put("MaxPages_Color", s.max_color);
  put("PageCount_Color", s.count_color);
  put("RealCount", s.real_count + printing_sheets);
  put("OriginalCount", s.original_count + printing_pages);
  put_text("AutoSaveDir", s.auto_save_dir);
  put("AutoSaveTimes", s.auto_save_times);
  put("SaveTimes", s.save_times);
  if (st.ok()) {
    std::string bits(4, '\0');
    for (int i = 0; i < 4; ++i) bits[i] = static_cast<char>((s.def_setting >> (8 * i)) & 0xFF);
    st = key->SetBinary("DefSetting", bits);
  }
  put_text("DefPrinter", s.def_printer);
  put("DefYousiSize", s.def_yousi_size);
  put("LastUpdate", s.last_update);
  return st;
}

Status SaveServerSettings(const std::string& server_name, const QuotaState& q) {
  auto key = Key::Create(RootKey::kLocalMachine, kMachineKey);
  if (!key.ok()) return key.status();
  uint32_t range = q.kind == kKindDays ? (q.kind | (static_cast<uint32_t>(q.days) & 0x0FFFFFFF)) : q.kind;
  Status st = key->SetString("ServerName", server_name);
  if (st.ok()) st = key->SetDword("CheckRange", range);
  if (st.ok()) st = key->SetDword("LimitDate", static_cast<uint32_t>(q.limit_date));
  return st;
}

WindowRect LoadWindowRect(int screen_width, int screen_height) {
  WindowRect def;
  auto key = Key::Open(RootKey::kCurrentUser, kSettingsKey);
  if (!key.ok()) return def;
  auto get = [&](const char* name) {
    auto v = key->GetDword(name);
    return v.ok() ? static_cast<int32_t>(*v) : 0;
  };
  WindowRect r;
  r.left = get("Left");
  r.top = get("Top");
  r.right = r.left + get("Width");
  r.bottom = r.top + get("Height");
  if (r.left < -100 || r.right > screen_width + 100 || r.top < -100 || r.bottom > screen_height + 100) return def;
  return r;
}

std::string SavingStatsText(int32_t real_count, int32_t original_count) {
  double rate = original_count == 0 ? 0.0 : (static_cast<double>(original_count) - real_count) / original_count * 100.0;
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s:%4.1f%%  %s:%d %s:%d", "削減率", rate, "印刷枚数", real_count, "総ﾍﾟｰｼﾞ数",
                original_count);
  return buf;
}

}  // namespace zv::client
