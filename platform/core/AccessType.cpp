#include "AccessType.h"

namespace pendra {

std::string TypeName(int type) {
  switch (static_cast<AccessType>(type)) {
    case AccessType::YesNo: return "Yes/No 型";
    case AccessType::Byte: return "バイト型";
    case AccessType::Integer: return "整数型";
    case AccessType::Long: return "長整数型";
    case AccessType::Currency: return "通貨型";
    case AccessType::Single: return "単精度浮動小数点型";
    case AccessType::Double: return "倍精度浮動小数点型";
    case AccessType::DateTime: return "日付/時刻型";
    case AccessType::Binary: return "バイナリ型";
    case AccessType::Text: return "テキスト型";
    case AccessType::Ole: return "OLE オブジェクト型";
    case AccessType::Memo: return "メモ型";
    case AccessType::Guid: return "レプリケーション ID 型";
    case AccessType::Decimal: return "十進型";
    case AccessType::Complex: return "添付ファイル型/複数値";
    case AccessType::DateTimeExtended: return "拡張日付/時刻型";
  }
  return "型 " + std::to_string(type);
}

bool IsNumberType(int type) {
  switch (static_cast<AccessType>(type)) {
    case AccessType::Byte:
    case AccessType::Integer:
    case AccessType::Long:
    case AccessType::Currency:
    case AccessType::Single:
    case AccessType::Double:
    case AccessType::DateTime: return true;
    default: return false;
  }
}

bool IsKeyType(int type) {
  const auto kind = static_cast<AccessType>(type);
  return kind == AccessType::Text || kind == AccessType::YesNo || IsNumberType(type);
}

}  // namespace pendra
