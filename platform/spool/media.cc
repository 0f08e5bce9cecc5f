#include "platform/spool/media.h"

#include <cstdlib>

namespace zv::spool {
namespace {

// Sizes in inches are converted exactly (1 in = 254 tenths of a millimetre). Where two
// codes share a size, the common one comes first so that MediaBySize picks it.
constexpr MediaEntry kMedia[] = {
    {1, "na_letter_8.5x11in", "Letter", 2159, 2794},
    {3, "na_ledger_11x17in", "Tabloid", 2794, 4318},
    {5, "na_legal_8.5x14in", "Legal", 2159, 3556},
    {6, "na_invoice_5.5x8.5in", "Statement", 1397, 2159},
    {7, "na_executive_7.25x10.5in", "Executive", 1842, 2667},
    {8, "iso_a3_297x420mm", "A3", 2970, 4200},
    {9, "iso_a4_210x297mm", "A4", 2100, 2970},
    {11, "iso_a5_148x210mm", "A5", 1480, 2100},
    {12, "jis_b4_257x364mm", "B4 (JIS)", 2570, 3640},
    {13, "jis_b5_182x257mm", "B5 (JIS)", 1820, 2570},
    {14, "na_foolscap_8.5x13in", "Folio", 2159, 3302},
    {15, "na_quarto_8.5x10.83in", "Quarto", 2150, 2750},
    {16, "na_10x14_10x14in", "10x14", 2540, 3556},
    {19, "na_number-9_3.875x8.875in", "Envelope #9", 984, 2254},
    {20, "na_number-10_4.125x9.5in", "Envelope #10", 1048, 2413},
    {21, "na_number-11_4.5x10.375in", "Envelope #11", 1143, 2635},
    {22, "na_number-12_4.75x11in", "Envelope #12", 1207, 2794},
    {23, "na_number-14_5x11.5in", "Envelope #14", 1270, 2921},
    {24, "na_c_17x22in", "C size sheet", 4318, 5588},
    {25, "na_d_22x34in", "D size sheet", 5588, 8636},
    {26, "na_e_34x44in", "E size sheet", 8636, 11176},
    {27, "iso_dl_110x220mm", "Envelope DL", 1100, 2200},
    {28, "iso_c5_162x229mm", "Envelope C5", 1620, 2290},
    {29, "iso_c3_324x458mm", "Envelope C3", 3240, 4580},
    {30, "iso_c4_229x324mm", "Envelope C4", 2290, 3240},
    {31, "iso_c6_114x162mm", "Envelope C6", 1140, 1620},
    {32, "iso_c6c5_114x229mm", "Envelope C65", 1140, 2290},
    {34, "iso_b5_176x250mm", "B5 (ISO)", 1760, 2500},
    {35, "iso_b6_125x176mm", "Envelope B6", 1250, 1760},
    {36, "om_italian_110x230mm", "Envelope Italy", 1100, 2300},
    {37, "na_monarch_3.875x7.5in", "Envelope Monarch", 984, 1905},
    {38, "na_personal_3.625x6.5in", "Envelope Personal", 921, 1651},
    {39, "na_fanfold-us_11x14.875in", "US Std Fanfold", 2794, 3778},
    {40, "na_fanfold-eur_8.5x12in", "German Std Fanfold", 2159, 3048},
    {42, "iso_b4_250x353mm", "B4 (ISO)", 2500, 3530},
    {43, "jpn_hagaki_100x148mm", "Japanese Postcard", 1000, 1480},
    {44, "na_9x11_9x11in", "9x11", 2286, 2794},
    {45, "na_10x11_10x11in", "10x11", 2540, 2794},
    {47, "om_invite_220x220mm", "Envelope Invite", 2200, 2200},
    {50, "na_letter-extra_9.5x12in", "Letter Extra", 2413, 3048},
    {51, "na_legal-extra_9.5x15in", "Legal Extra", 2413, 3810},
    {53, "iso_a4-extra_235.5x322.3mm", "A4 Extra", 2355, 3223},
    {57, "na_super-a_8.94x14in", "SuperA", 2271, 3556},
    {58, "na_super-b_13x19in", "SuperB", 3302, 4826},
    {63, "iso_a3-extra_322x445mm", "A3 Extra", 3220, 4450},
    {64, "iso_a5-extra_174x235mm", "A5 Extra", 1740, 2350},
    {65, "iso_b5-extra_201x276mm", "B5 (ISO) Extra", 2010, 2760},
    {66, "iso_a2_420x594mm", "A2", 4200, 5940},
    {69, "jpn_oufuku_148x200mm", "Double Japanese Postcard", 1480, 2000},
    {70, "iso_a6_105x148mm", "A6", 1050, 1480},
    {71, "jpn_kaku2_240x332mm", "Japanese Envelope Kaku #2", 2400, 3320},
    {72, "jpn_kaku3_216x277mm", "Japanese Envelope Kaku #3", 2160, 2770},
    {73, "jpn_chou3_120x235mm", "Japanese Envelope Chou #3", 1200, 2350},
    {74, "jpn_chou4_90x205mm", "Japanese Envelope Chou #4", 900, 2050},
    {88, "jis_b6_128x182mm", "B6 (JIS)", 1280, 1820},
    {91, "jpn_you4_105x235mm", "Japanese Envelope You #4", 1050, 2350},
    {93, "prc_16k_146x215mm", "PRC 16K", 1460, 2150},
    {94, "prc_32k_97x151mm", "PRC 32K", 970, 1510},
    {96, "prc_1_102x165mm", "PRC Envelope #1", 1020, 1650},
    {97, "prc_2_102x176mm", "PRC Envelope #2", 1020, 1760},
    {98, "prc_3_125x176mm", "PRC Envelope #3", 1250, 1760},
    {99, "prc_4_110x208mm", "PRC Envelope #4", 1100, 2080},
    {100, "prc_5_110x220mm", "PRC Envelope #5", 1100, 2200},
    {101, "prc_6_120x230mm", "PRC Envelope #6", 1200, 2300},
    {102, "prc_7_160x230mm", "PRC Envelope #7", 1600, 2300},
    {103, "prc_8_120x309mm", "PRC Envelope #8", 1200, 3090},
    {104, "prc_9_229x324mm", "PRC Envelope #9", 2290, 3240},
    {105, "prc_10_324x458mm", "PRC Envelope #10", 3240, 4580},
};

}  // namespace

std::span<const MediaEntry> MediaTable() { return kMedia; }

const MediaEntry* MediaByCode(std::int16_t code) {
  for (const auto& m : kMedia) {
    if (m.code == code) return &m;
  }
  return nullptr;
}

const MediaEntry* MediaByPwg(std::string_view pwg) {
  for (const auto& m : kMedia) {
    if (pwg == m.pwg) return &m;
  }
  return nullptr;
}

const MediaEntry* MediaBySize(std::int32_t width, std::int32_t length, std::int32_t tolerance) {
  for (const auto& m : kMedia) {
    if (std::abs(m.width - width) <= tolerance && std::abs(m.length - length) <= tolerance) return &m;
  }
  return nullptr;
}

}  // namespace zv::spool
