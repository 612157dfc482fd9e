#include "JetFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/PlatformError.h"
#include "core/RegularFile.h"

namespace pendra::jet {

namespace {

// The fixed sequence the header is masked with, from byte 0x18 on (128
// bytes for Jet 4 and later, the first 126 for Jet 3). Published by the
// open-source readers of the format.
constexpr std::array<uint8_t, 128> kHeaderMask = {
    0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55, 0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C,
    0x7A, 0x9F, 0x90, 0xFF, 0x80, 0x9A, 0x31, 0xC5, 0x79, 0xBA, 0xED, 0x30, 0xBC, 0xDF, 0xCC, 0x9D,
    0x63, 0xD9, 0xE4, 0xC3, 0x7B, 0x42, 0xFB, 0x8A, 0xBC, 0x4E, 0x86, 0xFB, 0xEC, 0x37, 0x5D, 0x44,
    0x9C, 0xFA, 0xC6, 0x5E, 0x28, 0xE6, 0x13, 0xB6, 0x8A, 0x60, 0x54, 0x94, 0x7B, 0x36, 0xF5, 0x72,
    0xDF, 0xB1, 0x77, 0xF4, 0x13, 0x43, 0xCF, 0xAF, 0xB1, 0x33, 0x34, 0x61, 0x79, 0x5B, 0x92, 0xB5,
    0x7C, 0x2A, 0x05, 0xF1, 0x7C, 0x99, 0x01, 0x1B, 0x98, 0xFD, 0x12, 0x4F, 0x4A, 0x94, 0x6C, 0x3E,
    0x60, 0x26, 0x5F, 0x95, 0xF8, 0xD0, 0x89, 0x24, 0x85, 0x67, 0xC6, 0x1F, 0x27, 0x44, 0xD2, 0xEE,
    0xCF, 0x65, 0xED, 0xFF, 0x07, 0xC7, 0x46, 0xA1, 0x78, 0x16, 0x0C, 0xED, 0xE9, 0x2D, 0x62, 0xD4};

constexpr size_t kMaskedFrom = 0x18;
constexpr size_t kVersionAt = 0x14;
constexpr size_t kCodePageAt = 0x3C;
constexpr size_t kEncodingKeyAt = 0x3E;
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kCreationDateAt = 0x72;  // Jet 4: a Double, also the password's extra mask
// Files larger than the format allows (2 GB) are not Access files.
constexpr uintmax_t kMaxFileSize = 2ULL * 1024 * 1024 * 1024;

constexpr Layout kJet3Layout = {
    2048,
    8, 10,
    12, 20, 21, 23, 25, 27, 31, 35, 39, 43, 8, 18, 39, 20,
    1, 3, 9, 13, 14, 16,
    1,
    8, 12, 16, 20, 22, 226,
    1};

constexpr Layout kJet4Layout = {
    4096,
    12, 14,
    16, 20, 41, 43, 45, 47, 51, 55, 59, 63, 12, 25, 52, 28,
    5, 7, 11, 15, 21, 23,
    2,
    12, 16, 20, 24, 27, 453,
    2};

}  // namespace

std::string FormatName(Format format) {
  switch (format) {
    case Format::Jet3: return "Jet 3";
    case Format::Jet4: return "Jet 4";
    case Format::Ace12: return "ACE 12";
    case Format::Ace14: return "ACE 14";
    case Format::Ace16: return "ACE 16";
    case Format::Ace17: return "ACE 17";
  }
  return "?";
}

void RaiseDamaged(const std::string& path, const std::string& what) {
  Raise(3049, "データベース '" + path + "' が壊れています (" + what + ")。");
}

void ReserveIfPossible(std::string& bytes, size_t capacity) {
  try {
    bytes.reserve(capacity);
  } catch (const std::bad_alloc&) {
    // Without the room the image grows as it goes.
  }
}

// Regular files only, bounded by their real size (RegularFile.h).
JetFile::JetFile(const std::string& path) : JetFile(ReadRegularFile(path, kMaxFileSize).bytes, path) {}

JetFile::JetFile(std::string bytes, const std::string& path)
    : JetFile(std::make_unique<StringBytes>(std::move(bytes)), path) {}

JetFile::JetFile(std::unique_ptr<ImageBytes> bytes, const std::string& path) : bytes_(std::move(bytes)), path_(path) {
  Parse();
}

void JetFile::Parse() {
  const std::string notAccess = "'" + path_ + "' は Access のデータベースではありません";
  const std::string_view bytes(bytes_->Data(), bytes_->Size());
  // Page 0 starts with 00 01 00 00 and the engine's name.
  if (bytes.size() < 2048 || bytes.substr(0, 4) != std::string_view("\x00\x01\x00\x00", 4) ||
      (bytes.substr(4, 15) != "Standard Jet DB" && bytes.substr(4, 15) != "Standard ACE DB"))
    Raise(err::kUnrecognizedFormat, notAccess + "。");
  switch (static_cast<uint8_t>(bytes[kVersionAt])) {
    case 0: format_ = Format::Jet3; break;
    case 1: format_ = Format::Jet4; break;
    case 2: format_ = Format::Ace12; break;
    case 3: format_ = Format::Ace14; break;
    case 5: format_ = Format::Ace16; break;
    case 6: format_ = Format::Ace17; break;
    default: Raise(err::kUnrecognizedFormat, notAccess + " (未知の版 " + std::to_string(static_cast<uint8_t>(bytes[kVersionAt])) + ")。");
  }
  layout_ = IsJet3() ? kJet3Layout : kJet4Layout;
  if (bytes.size() % layout_.pageSize != 0 || bytes.size() < 3 * layout_.pageSize)
    RaiseDamaged(path_, "ファイルの大きさがページの倍数ではありません");

  // The header's facts, unmasked into a copy (the file keeps its bytes).
  std::string header(bytes.substr(0, layout_.pageSize));
  const size_t maskLength = IsJet3() ? 126 : 128;
  for (size_t i = 0; i < maskLength; ++i) header[kMaskedFrom + i] = static_cast<char>(header[kMaskedFrom + i] ^ kHeaderMask[i]);
  codePage_ = static_cast<int>(Le16(header, kCodePageAt));
  encrypted_ = Le32(header, kEncodingKeyAt) != 0;
  if (IsJet3()) {
    sortOrder_ = static_cast<int>(Le16(header, 0x3A));
  } else {
    sortOrder_ = static_cast<int>(Le16(header, 0x6E));
    sortVersion_ = static_cast<uint8_t>(header[0x71]);
  }
  // The password: Jet 3 keeps 20 bytes as they are; Jet 4 40 bytes, masked
  // again with the integer part of the creation date. ACE files with a
  // password are encoded, which the encoding key tells.
  std::array<uint8_t, 4> dateMask{};
  const size_t passwordSize = IsJet3() ? 20 : 40;
  if (!IsJet3()) {
    double created = 0;
    const uint64_t bits = static_cast<uint64_t>(Le32(header, kCreationDateAt)) |
                          static_cast<uint64_t>(Le32(header, kCreationDateAt + 4)) << 32;
    std::memcpy(&created, &bits, sizeof created);
    const auto whole = (created > -2147483648.0 && created < 2147483648.0) ? static_cast<int32_t>(created) : 0;
    for (size_t i = 0; i < 4; ++i) dateMask[i] = static_cast<uint8_t>(static_cast<uint32_t>(whole) >> (8 * i));
  }
  if (format_ == Format::Jet3 || format_ == Format::Jet4) {
    for (size_t i = 0; i < passwordSize; ++i)
      if ((static_cast<uint8_t>(header[kPasswordAt + i]) ^ dateMask[i % 4]) != 0) passwordProtected_ = true;
  }
}

std::string_view JetFile::Page(uint32_t number) const {
  if (!HasPage(number)) RaiseDamaged(path_, "ページ " + std::to_string(number) + " はファイルの外です");
  const size_t at = static_cast<size_t>(number) * layout_.pageSize;
  bytes_->Touched(at);
  return std::string_view(bytes_->Data() + at, layout_.pageSize);
}

void JetFile::Touch(std::string_view bytes) const {
  const auto at = reinterpret_cast<uintptr_t>(bytes.data());
  const auto start = reinterpret_cast<uintptr_t>(bytes_->Data());
  if (at >= start && at < start + bytes_->Size()) bytes_->Touched(at - start);
}

char* JetFile::PageBytes(uint32_t number) {
  if (!HasPage(number)) RaiseDamaged(path_, "ページ " + std::to_string(number) + " はファイルの外です");
  const size_t at = static_cast<size_t>(number) * layout_.pageSize;
  bytes_->Touched(at);
  return bytes_->Data() + at;
}

std::string& JetFile::bytes() {
  auto* text = dynamic_cast<StringBytes*>(bytes_.get());
  if (text == nullptr) Raise(err::kInvalidOperation, "'" + path_ + "' の内容はメモリー上の文字列ではありません。");
  return text->String();
}

const std::string& JetFile::bytes() const { return const_cast<JetFile*>(this)->bytes(); }

}  // namespace pendra::jet
