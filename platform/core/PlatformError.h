// The one error type of the platform layers. Every failing operation of the
// database engine, the spreadsheet application, the runtime and the file
// reader throws it with the engine's own error number and a Japanese
// description, in the style the engines give on a Japanese system.
#pragma once

#include <stdexcept>
#include <string>

namespace pendra {

class PlatformError : public std::runtime_error {
 public:
  PlatformError(long number, std::string description);

  long Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  long number_;
  std::string description_;
};

// Numbers used across the layers. Runtime numbers are the automation
// runtime's, 3xxx the database engine's, 1004 the spreadsheet application's.
namespace err {
inline constexpr long kInvalidProcedureCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kOutOfMemory = 7;
inline constexpr long kSubscriptOutOfRange = 9;      // sheet or window not found
inline constexpr long kUserInterrupt = 18;           // the user cancelled a running job
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kBadFileMode = 54;
inline constexpr long kFileAlreadyOpen = 55;
inline constexpr long kDeviceIOError = 57;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathFileAccessError = 75;
inline constexpr long kPathNotFound = 76;
inline constexpr long kInvalidUseOfNull = 94;
inline constexpr long kCannotCreateObject = 429;    // ActiveX component can't create object
inline constexpr long kAutomationError = 440;
inline constexpr long kObjectDoesNotSupport = 438;
inline constexpr long kApplicationDefined = 1004;
inline constexpr long kCancel = 32755;              // common dialog: Cancel was selected
inline constexpr long kUpdateWithoutAddNew = 3020;
inline constexpr long kDuplicateKey = 3022;
inline constexpr long kDatabaseFileNotFound = 3024;
inline constexpr long kSyntaxError = 3075;
inline constexpr long kTableNotFound = 3078;
inline constexpr long kNoCurrentRecord = 3021;
inline constexpr long kFieldTooSmall = 3163;
inline constexpr long kTableLocked = 3211;
inline constexpr long kCouldNotUpdateLocked = 3218;
inline constexpr long kCouldNotUseLocked = 3260;
inline constexpr long kItemNotFound = 3265;
inline constexpr long kRecordsetNotUpdatable = 3027;
inline constexpr long kFieldRequired = 3314;
inline constexpr long kZeroLengthNotAllowed = 3315;
inline constexpr long kValidationRule = 3317;
inline constexpr long kUnrecognizedFormat = 3343;
inline constexpr long kDataTypeConversion = 3421;
inline constexpr long kObjectInvalid = 3420;        // object invalid or no longer set (closed)
inline constexpr long kCommitWithoutBegin = 3034;
inline constexpr long kDiskIO = 3043;
inline constexpr long kDiskFull = 3026;
inline constexpr long kDataChanged = 3197;        // another program changed the data meanwhile           // not enough space on the disk
inline constexpr long kNotValidPath = 3044;         // a folder, not a database file
inline constexpr long kFileInUse = 3045;            // locked by another process at open
inline constexpr long kCannotOpenFile = 3051;       // no permission
inline constexpr long kTooFewParameters = 3061;     // unknown column in a statement
inline constexpr long kCannotExecuteSelect = 3065;
inline constexpr long kCharactersAfterEnd = 3142;
inline constexpr long kRecordIsDeleted = 3167;
inline constexpr long kInvalidArgument = 3001;
inline constexpr long kInvalidOperation = 3219;
inline constexpr long kQueryTimeout = 3234;         // a statement ran past its time bound
}  // namespace err

// The standard Japanese description of an error number ("オーバーフローしました。"
// for 6). Unknown numbers get "アプリケーション定義またはオブジェクト定義のエラーです。".
std::string StandardDescription(long number);

// Throws PlatformError with the standard description, or with the one given.
[[noreturn]] void Raise(long number);
[[noreturn]] void Raise(long number, std::string description);

}  // namespace pendra
