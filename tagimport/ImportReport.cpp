#include "ImportReport.h"

namespace pendra::tagimport {

namespace {

// Long values are cut in the message so that the box stays readable.
std::string Shown(std::string_view text) {
  constexpr size_t kMax = 40;
  if (text.size() <= kMax) return std::string(text);
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // UTF-8 boundary
  return std::string(text.substr(0, cut)) + "…";
}

std::string LineLabel(long line, std::string_view tag) {
  return std::to_string(line) + " 行目（タグ \"" + Shown(tag) + "\"）";
}

}  // namespace

void ImportReport::Note(std::string text) {
  if (listed_.size() < kListed) {
    listed_.push_back(std::move(text));
  } else {
    ++unlisted_;
  }
}

void ImportReport::Stored(bool added, bool someColumnsRefused) {
  ++stored_;
  if (added) ++added_;
  if (someColumnsRefused) ++partly_;
}

void ImportReport::ColumnRefused(long line, std::string_view tag, std::string_view column,
                                 std::string_view value, const PlatformError& error) {
  Note(LineLabel(line, tag) + ": " + std::string(column) + " \"" + Shown(value) +
                 "\" を書き込めません: " + error.Description());
}

void ImportReport::RecordRefused(long line, std::string_view tag, const PlatformError& error) {
  ++refused_;
  Note(LineLabel(line, tag) + ": 登録できません: " + error.Description());
}

void ImportReport::LineSkipped(long line, std::string_view reason) {
  ++refused_;
  Note(std::to_string(line) + " 行目: 読み飛ばしました: " + std::string(reason));
}

void ImportReport::ReadingStopped(long line, const PlatformError& error) {
  stopped_ = true;
  Note(std::to_string(line) + " 行目: 読み込みを中止しました: " + error.Description() +
                 "（以降の行は展開されていません）");
}

std::string ImportReport::CountsLine() const {
  return "M_TAG: " + std::to_string(before_) + " 行 → " + std::to_string(before_ + added_) + " 行 (追加 " +
         std::to_string(added_) + "、更新 " + std::to_string(stored_ - added_) + "、拒否・読み飛ばし " +
         std::to_string(refused_) + ")";
}

std::string ImportReport::Message() const {
  std::string text = "ﾏｽﾀｰ情報の一部をデータベースへ展開できませんでした。\n" + CountsLine() + "\n\n";
  text += "登録した行: " + std::to_string(stored_) + " 件";
  if (partly_ > 0) {
    text += "（うち一部の項目を書き込めなかった行: " + std::to_string(partly_) + " 件）";
  }
  text += "\n登録できなかった行・読み飛ばした行: " + std::to_string(refused_) + " 件\n";
  if (!listed_.empty()) text += "\n";
  for (const auto& entry : listed_) text += entry + "\n";
  if (unlisted_ > 0) text += "ほか " + std::to_string(unlisted_) + " 件\n";
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

}  // namespace pendra::tagimport
