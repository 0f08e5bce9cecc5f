// The client's settings in the user's registry hive ("Software\Orbelin\Zelvora\1.0\Settings",
// 29 values, and the conversion key "Conv") and its three values in the machine key.
#pragma once

#include <cstdint>
#include <string>

#include "client/answer.h"
#include "platform/base/status.h"

namespace zv::client {

inline constexpr char kSettingsKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Settings";
inline constexpr char kConvKey[] = "Software\\Orbelin\\Zelvora\\1.0\\Conv";

// The 29 values, as the frame keeps them.
struct ClientSettings {
  int32_t left = 0, top = 0, width = 0, height = 0;
  int32_t thumbnail = 0;  // "ThumbnailCount" 0..3
  int32_t lodrin = 1;     // 1 vertical, other horizontal
  int32_t page_line = 0;  // 0..3 (above 3 reads as 0)
  int32_t t_offset = 0;   // tenths of a millimetre
  int32_t l_offset = 0;
  int32_t dest_size = 1000;  // tenths of a percent
  std::string output_printer;
  int32_t paper_size = 0;
  std::string form;
  int32_t copies = 1;
  int32_t collate = 0;
  int32_t dup_check = 1;
  int32_t max_pages = -1, page_count = -1, max_color = -1, count_color = -1;
  int32_t real_count = 0, original_count = 0;
  std::string auto_save_dir;  // default: the program folder
  int32_t auto_save_times = 10;
  int32_t save_times = 0;
  uint32_t def_setting = 0;  // bits of the values reset at every start
  std::string def_printer;
  int32_t def_yousi_size = 0;
  int32_t last_update = 0;
  friend bool operator==(const ClientSettings&, const ClientSettings&) = default;
};

// Takes a length or scale as shown (millimetres, percent); gives it in tenths, rounded to the
// nearest tenth (2.3 is 23, 33.3 is 333).
int32_t ToTenths(double value);

// Takes the program folder and whether the machine value "AutoPrint" is 1; creates the user
// keys when missing (the conversion key with "OutKind" 0 and "Outdir" the temporary folder),
// reads every value with its default and applies "DefSetting" ("PaperSize" is 9 under
// AutoPrint unless bit 0x02 gives "DefYousiSize"). Gives whether every value was present;
// IOError when a key cannot be created.
Result<bool> LoadSettings(ClientSettings* settings, const std::string& program_folder, bool auto_print);

// Writes the 29 values in their order. While a print is under way, the sheets and pages of
// the job being printed are added to "RealCount" and "OriginalCount" in what is written.
Status SaveSettings(const ClientSettings& settings, int printing_sheets = 0, int printing_pages = 0);

// Writes "ServerName", "CheckRange" (the kind, OR the days for a given number of days) and
// "LimitDate" into the machine key.
Status SaveServerSettings(const std::string& server_name, const QuotaState& quota);

// The frame rectangle to open with: the stored one, or (0, 0, 590, 485) when there is none
// or it lies off the screen by more than 100 pixels.
struct WindowRect {
  int32_t left = 0, top = 0, right = 590, bottom = 485;
  friend bool operator==(const WindowRect&, const WindowRect&) = default;
};
WindowRect LoadWindowRect(int screen_width, int screen_height);

// Gives the page-saving line of the dialog bar: "削減率:%4.1f%%  印刷枚数:%d 総ﾍﾟｰｼﾞ数:%d".
std::string SavingStatsText(int32_t real_count, int32_t original_count);

}  // namespace zv::client
