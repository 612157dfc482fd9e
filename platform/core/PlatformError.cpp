#include "PlatformError.h"

#include <map>

namespace pendra {

PlatformError::PlatformError(long number, std::string description)
    : std::runtime_error(std::to_string(number) + ": " + description),
      number_(number),
      description_(std::move(description)) {}

std::string StandardDescription(long number) {
  // The texts the runtime and the engines give on a Japanese system.
  static const std::map<long, std::string> kTexts = {
      {5, "プロシージャの呼び出し、または引数が不正です。"},
      {6, "オーバーフローしました。"},
      {7, "メモリが不足しています。"},
      {9, "インデックスが有効範囲にありません。"},
      {13, "型が一致しません。"},
      {53, "ファイルが見つかりません。"},
      {54, "ファイル モードが不正です。"},
      {55, "ファイルは既に開かれています。"},
      {57, "デバイス I/O エラーです。"},
      {62, "ファイルにこれ以上データがありません。"},
      {70, "書き込みできません。"},
      {75, "パス名が無効です。"},
      {76, "パスが見つかりません。"},
      {91, "オブジェクト変数または With ブロック変数が設定されていません。"},
      {94, "Null の使い方が不正です。"},
      {429, "ActiveX コンポーネントはオブジェクトを作成できません。"},
      {438, "オブジェクトは、このプロパティまたはメソッドをサポートしていません。"},
      {440, "オートメーション エラーです。"},
      {1004, "アプリケーション定義またはオブジェクト定義のエラーです。"},
      {32755, "[キャンセル] が選択されました。"},
      {3020, "AddNew または Edit を使用せずに Update または CancelUpdate を実行しました。"},
      {3021, "カレント レコードがありません。"},
      {3022, "テーブルを変更できませんでした。インデックス、主キー、またはリレーションシップで値が重複しています。"},
      {3024, "ファイルが見つかりません。"},
      {3027, "データベースまたはオブジェクトは読み取り専用なので、更新できません。"},
      {3034, "BeginTrans を使用せずに、トランザクションをコミットまたはロールバックしようとしました。"},
      {3043, "ディスクまたはネットワークでエラーが発生しました。"},
      {3075, "クエリ式の構文エラーです。"},
      {3078, "入力テーブルまたはクエリが見つかりません。"},
      {3163, "フィールドのサイズが小さすぎるため、挿入しようとしたデータを格納できません。"},
      {3211, "テーブルは他のユーザーまたはプロセスで使用中のため、ロックできませんでした。"},
      {3218, "更新できません。ロックされています。"},
      {3260, "他のユーザーによってロックされているため、更新できません。"},
      {3265, "要求された名前、または序数に対応する項目がコレクションで見つかりません。"},
      {3314, "フィールドには値が必要です。このフィールドに値を入力してください。"},
      {3315, "フィールドには長さ 0 の文字列は入力できません。"},
      {3317, "入力規則に違反しています。"},
      {3343, "データベースの形式を認識できません。"},
      {3420, "オブジェクトが無効か、または設定されていません。"},
      {3421, "データ型変換エラーです。"},
  };
  auto it = kTexts.find(number);
  return it != kTexts.end() ? it->second : kTexts.at(1004);
}

void Raise(long number) { throw PlatformError(number, StandardDescription(number)); }

void Raise(long number, std::string description) {
  throw PlatformError(number, std::move(description));
}

}  // namespace pendra
