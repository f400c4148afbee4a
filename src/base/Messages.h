#pragma once

// The program's fixed texts.
//   Messages::*  - each message box text, method name and progress caption,
//                  written once.
//   SkewText / ScanModeName - the deskew's and a method's text; empty for a
//                  method number that names none.

#include <QString>

#include <optional>

// The program's fixed texts that more than one place shows: the message boxes'
// texts, the names of the conversion methods and the captions of the progress
// window. Each is written here once.
namespace Messages {

inline QString OutOfMemory() { return QStringLiteral("メモリが確保出来ませんでした。"); }
inline QString Unreadable() { return QStringLiteral("ファイルが読み込めませんした。"); }
inline QString InvalidNumber() { return QStringLiteral("数値が無効です。"); }
inline QString InvalidInteger() { return QStringLiteral("数値が無効です。(整数)"); }
inline QString NotConverted() { return QStringLiteral("ファイルが開いてません。"); }
inline QString ZeroSegments() { return QStringLiteral("線の本数が０です。"); }
inline QString NoInk() { return QStringLiteral("用紙と見分けられるインクがありません。"); }
inline QString SaveZeroSegments() { return QStringLiteral("線の本数が０です。\n\r保存しますか。"); }
inline QString Confirm() { return QStringLiteral("確認"); }
inline QString Saved() { return QStringLiteral("保存が終了しました。"); }
inline QString Copied() { return QStringLiteral("コピーが終了しました。"); }
// The coordinate text and DXF writers' failure, and the JWC writer's.
inline QString SaveFailed() { return QStringLiteral("保存できませんでした。"); }
inline QString JwcSaveFailed() { return QStringLiteral("保存ができませんでした。"); }
inline QString CopyFailed() { return QStringLiteral("コピーできませんでした。"); }
inline QString DxfHeaderMissing() { return QStringLiteral("dxf.hedファイルが見つかりません。"); }
// The command line's refusal of a drawing whose coordinates would not be floats.
inline QString CoordinatesOverflow()
{
    return QStringLiteral("座標が大きすぎます（図面の大きさに倍率と比率を掛けると 32 ビット浮動小数点数に収まりません）。");
}

// Progress window captions and labels.
inline QString Loading() { return QStringLiteral("読込中・・・"); }
inline QString LoadingFile(const QString &fileName) { return QStringLiteral("読込中:") + fileName; }
inline QString ConvertingImage() { return QStringLiteral("イメージ変換中・・・"); }
inline QString Saving() { return QStringLiteral("保存中・・・"); }
inline QString Copying() { return QStringLiteral("クリップボードへコピー中・・・"); }

} // namespace Messages

// What the deskew found: "傾き 0.70度を補正しました" (degrees counter-clockwise,
// two decimals), or "傾きは見つかりませんでした".
QString SkewText(std::optional<double> degrees);

// The name of a conversion method as the main window and the settings dialog
// show it: 1 "ライン", 2 "ボックス", 3 "ライン２"; empty for any other value.
QString ScanModeName(int pixelScanMode);
