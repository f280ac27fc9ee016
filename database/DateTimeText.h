#pragma once

#include <optional>
#include <string>
#include <string_view>

// Dates and times as the store world writes them, checked and put in the stored form.
namespace quorvane {

// dd/mm/yyyy (day and month of one or two digits) or yyyy-mm-dd, a real calendar day, as
// "yyyy-mm-dd"; blanks around are ignored.
std::optional<std::string> ParseDate(std::string_view text);
// hh:mm or hh:mm:ss (hour of one or two digits), as "hh:mm:ss".
std::optional<std::string> ParseTime(std::string_view text);
// A date, blanks, a time, as "yyyy-mm-dd hh:mm:ss"; a date alone is its midnight.
std::optional<std::string> ParseDateTime(std::string_view text);

}  // namespace quorvane
