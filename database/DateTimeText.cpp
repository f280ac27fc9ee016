#include "database/DateTimeText.h"

#include "base/TextConversion.h"

namespace quorvane {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads exactly `count` digits at `pos`, or between 1 and `count` when `variable`.
std::optional<int> ReadNumber(std::string_view text, std::size_t& pos, std::size_t count,
                              bool variable) {
    std::size_t taken = 0;
    int value = 0;
    while (taken < count && pos < text.size() && IsDigit(text[pos])) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++taken;
    }
    if (taken == count || (variable && taken > 0)) {
        return value;
    }
    return std::nullopt;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

int DaysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

std::string TwoDigits(int value) {
    return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

// dd/mm/yyyy (day and month of one or two digits) or yyyy-mm-dd, validated, as "yyyy-mm-dd".
std::optional<std::string> ParseDatePart(std::string_view text, std::size_t& pos) {
    std::size_t p = pos;
    int day = 0;
    int month = 0;
    int year = 0;
    const std::size_t start = p;
    const auto first = ReadNumber(text, p, 4, true);
    if (!first) {
        return std::nullopt;
    }
    if (p - start == 4 && Expect(text, p, '-')) {
        const auto m = ReadNumber(text, p, 2, false);
        if (!m || !Expect(text, p, '-')) {
            return std::nullopt;
        }
        const auto d = ReadNumber(text, p, 2, false);
        if (!d) {
            return std::nullopt;
        }
        year = *first;
        month = *m;
        day = *d;
    } else if (p - start <= 2 && Expect(text, p, '/')) {
        const auto m = ReadNumber(text, p, 2, true);
        if (!m || !Expect(text, p, '/')) {
            return std::nullopt;
        }
        const auto y = ReadNumber(text, p, 4, false);
        if (!y) {
            return std::nullopt;
        }
        day = *first;
        month = *m;
        year = *y;
    } else {
        return std::nullopt;
    }
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return std::nullopt;
    }
    pos = p;
    const std::string y = std::to_string(year);
    return std::string(4 - y.size(), '0') + y + "-" + TwoDigits(month) + "-" + TwoDigits(day);
}

// hh:mm or hh:mm:ss (hour of one or two digits), validated, as "hh:mm:ss".
std::optional<std::string> ParseTimePart(std::string_view text, std::size_t& pos) {
    std::size_t p = pos;
    const auto h = ReadNumber(text, p, 2, true);
    if (!h || !Expect(text, p, ':')) {
        return std::nullopt;
    }
    const auto m = ReadNumber(text, p, 2, false);
    if (!m) {
        return std::nullopt;
    }
    int seconds = 0;
    if (Expect(text, p, ':')) {
        const auto s = ReadNumber(text, p, 2, false);
        if (!s) {
            return std::nullopt;
        }
        seconds = *s;
    }
    if (*h > 23 || *m > 59 || seconds > 59) {
        return std::nullopt;
    }
    pos = p;
    return TwoDigits(*h) + ":" + TwoDigits(*m) + ":" + TwoDigits(seconds);
}

}  // namespace

std::optional<std::string> ParseDate(std::string_view text) {
    text = TrimBlanks(text);
    std::size_t pos = 0;
    auto date = ParseDatePart(text, pos);
    return date && pos == text.size() ? date : std::nullopt;
}

std::optional<std::string> ParseTime(std::string_view text) {
    text = TrimBlanks(text);
    std::size_t pos = 0;
    auto time = ParseTimePart(text, pos);
    return time && pos == text.size() ? time : std::nullopt;
}

std::optional<std::string> ParseDateTime(std::string_view text) {
    text = TrimBlanks(text);
    std::size_t pos = 0;
    const auto date = ParseDatePart(text, pos);
    if (!date) {
        return std::nullopt;
    }
    // The store's engine takes a date alone for its midnight.
    if (pos == text.size()) {
        return *date + " 00:00:00";
    }
    if (!Expect(text, pos, ' ')) {
        return std::nullopt;
    }
    while (pos < text.size() && text[pos] == ' ') {
        ++pos;
    }
    const auto time = ParseTimePart(text, pos);
    if (!time || pos != text.size()) {
        return std::nullopt;
    }
    return *date + " " + *time;
}

}  // namespace quorvane
