// Dates between the automation form (days since 1899-12-30, the time as
// the fraction) and the text forms the layer reads and stores.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pendra::dao::detail {

// Stored form of a DATETIME column: "YYYY-MM-DD HH:MM:SS", which sorts in
// time order and is what SQLite's own date functions and CURRENT_TIMESTAMP
// write.
std::string StoredDateText(double automationDate);

// A date text as the engine accepts it on a Japanese system: "2024/1/5",
// "2024-01-05", "2024年1月5日", each optionally followed by a time
// "10:20" / "10:20:30", or a time alone; also the stored form with "T".
// Years 100 to 9999. Nothing for any other text.
std::optional<double> ParseDateText(std::string_view text);

// Whether an automation date lies in the engine's range (years 100-9999).
bool DateInRange(double automationDate);

}  // namespace pendra::dao::detail
