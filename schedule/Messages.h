// The texts the schedule jobs show, exactly as the users know them.
#pragma once

#include <string>

#include "core/PlatformError.h"
#include "core/UserInterface.h"

namespace pendra::schedule::msg {

inline constexpr const char* kTitle = kMessageBoxTitle;

inline constexpr const char* kSpreadsheetRunning = "EXCELが立ち上がっている為、出力出来ません。";

inline constexpr const char* kExpansionNoPath = "Pendra情報.xlsを指定して下さい";
inline constexpr const char* kExpansionConfirm =
    "指定されたPendra情報をデータベースへ展開します。 よろしいですか？";
inline constexpr const char* kExpansionDone = "Pendra情報の展開が完了しました。";
inline constexpr const char* kExpansionOfTemplate =
    "Pendra_原紙.xlsは出力用の原紙のため展開できません。"
    "「Pendra情報.xlsファイルの作成」で作成して編集したファイルを指定して下さい。";

inline constexpr const char* kOutputDone = "Pendra情報のXLS出力が完了しました。";
inline constexpr const char* kOutputFailed = "Pendra情報のXLS出力エラー";
inline constexpr const char* kOutputOverTemplate =
    "Pendra_原紙.xlsには出力できません。別のファイル名を指定して下さい。";
inline constexpr const char* kOutputOverDatabase =
    "データベース ファイルには出力できません。別のファイル名を指定して下さい。";
inline constexpr const char* kOutputNotAFile =
    "指定された名前は通常のファイルではないため出力できません。別のファイル名を指定して下さい。";
inline constexpr const char* kOutputFormatRefused =
    "出力できるファイルの種類は .xls、.xlsx、.ods です。別のファイル名を指定して下さい。";
inline constexpr const char* kOutputReplace = "指定されたファイルは既に存在します。上書きしますか？";

// "ｴﾗｰ番号 " + Str(number) + ":" + description, where Str puts a blank
// before a number that is not negative.
inline std::string ErrorNumberAndDescription(const PlatformError& error) {
  const long number = error.Number();
  return std::string("ｴﾗｰ番号 ") + (number >= 0 ? " " : "") + std::to_string(number) + ":" + error.Description();
}

inline std::string ExpansionFailed(const PlatformError& error) {
  return "Pendra情報の展開エラー " + ErrorNumberAndDescription(error);
}

// The output's own text, then a line with the failure's number and
// description: the text alone cannot tell a missing folder from a full
// disk or from a limit that ended the spreadsheet application.
inline std::string OutputFailed(const PlatformError& error) {
  return std::string(kOutputFailed) + "\n" + ErrorNumberAndDescription(error);
}

}  // namespace pendra::schedule::msg
