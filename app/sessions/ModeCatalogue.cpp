#include "sessions/ModeCatalogue.h"

namespace kestrel {

namespace {
constexpr MenuColumn S = MenuColumn::Serial;
constexpr MenuColumn B = MenuColumn::Binary;
}  // namespace

// Captions 2 and 5 end with a space; it is part of the caption.
// clang-format off
const std::array<ModeEntry, kModeCount> kModeCatalogue{{
    {QStringLiteral("RS232C制御モード１"), Gate::None, "FrmRS232CMode1", -1, -1, S},
    {QStringLiteral("バッファ機能付RS232C制御モード 標準（Max255CH 9600,N8,1）"), Gate::None, "FrmRS232CMode2", 0, -1, S},
    {QStringLiteral("バッファ機能付RS232C制御モード LUMO3用（Max250CH 9600,N,8,1） "), Gate::None, "FrmRS232CMode2", 1, -1, S},
    {QStringLiteral("バッファ機能付RS232C制御モード （Max1000CH 19200,E,8,1）"), Gate::None, "FrmRS232CMode2_1000CH", 0, -1, S},
    {QStringLiteral("カナリ市交通局向け自動放送用シリアル通信モード"), Gate::Access1, "FrmFenwick1000CH", -1, -1, S},
    {QStringLiteral("バッファ機能付RS232C制御モード TARN4B LAN対応モデル （Max1000CH 19200,N,8,1） "), Gate::None, "FrmTARN4RS1000CH", -1, -1, S},
    {QStringLiteral("TARN5-KLV制御モード"), Gate::Access1, "FrmRS232CMode2", 2, -1, S},
    {QStringLiteral("セリナ市交通局向け自動放送用シリアル通信モード"), Gate::Access1, "FrmFenwick", -1, -1, S},
    {QStringLiteral("TARN5-NV制御モード （ORIS-9用）"), Gate::Access2, "FrmBrisk", -1, -1, S},
    {QStringLiteral("HS-41/42-A シリアル制御モード"), Gate::None, "FrmRS232CMode3", -1, -1, S},
    {QStringLiteral("HS-41/42-B シリアル制御モード"), Gate::None, "FrmRS232CMode4", -1, -1, S},
    {QStringLiteral("ミルダ仕様 シリアル制御モード"), Gate::None, "FrmRS232CMode5", -1, -1, S},
    {QStringLiteral("バイナリ制御モード"), Gate::Disabled, nullptr, -1, -1, B},
    {QStringLiteral("バッファ機能付バイナリ制御モード （Max255CH）"), Gate::Board, "FrmBinaryMode2", 0, 0, B},
    {QStringLiteral("バッファ機能付バイナリ制御モード （正論理Max250CH）"), Gate::Board, "FrmBinaryMode2", 1, 1, B},
    {QStringLiteral("バッファ機能付バイナリ制御モード （負論理Max250CH）"), Gate::Board, "FrmBinaryMode2", 1, 0, B},
    {QStringLiteral("LUMO7Q制御モード"), Gate::Board, "FrmBiMode7Q", -1, -1, B},
    {QStringLiteral("PLX6制御モード(Max255CH 4800,E,8,1)"), Gate::None, "FrmPLX6", -1, -1, S},
    {QStringLiteral("TARN-2G1-M バイナリ制御モード(正論理Max1000CH)"), Gate::Board, "FrmBiMode1000CH", -1, 1, B},
    {QStringLiteral("TARN-2G1-M バイナリ制御モード(負論理Max1000CH)"), Gate::Board, "FrmBiMode1000CH", -1, 0, B},
}};
// clang-format on

}  // namespace kestrel
