#include "sync/signature/Manifest.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace quorvane {
namespace {

constexpr std::string_view kGeneration = "generation ";
constexpr std::string_view kExpire = "expire ";

template <typename T>
bool ParseWhole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

std::optional<ManifestEntry> ParseEntry(std::string_view line) {
    constexpr std::size_t kHex = 64;
    if (line.size() < kHex + 3 || line[kHex] != ' ' ||
        (line[kHex + 1] != ' ' && line[kHex + 1] != '*')) {
        return std::nullopt;
    }
    ManifestEntry entry;
    for (const char c : line.substr(0, kHex)) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        entry.Sha256 += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    entry.Name = line.substr(kHex + 2);
    return entry;
}

}  // namespace

const ManifestEntry* Manifest::Find(std::string_view name) const {
    const auto entry = std::find_if(Entries.begin(), Entries.end(),
                                    [&](const ManifestEntry& e) { return e.Name == name; });
    return entry == Entries.end() ? nullptr : &*entry;
}

std::optional<std::uint64_t> ParseGeneration(std::string_view text) {
    std::uint64_t generation = 0;
    if (!ParseWhole(text, generation)) {
        return std::nullopt;
    }
    return generation;
}

std::string_view TakeLine(std::string_view& text) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

std::optional<std::time_t> ParseUtcTime(std::string_view text) {
    // 2027-01-15T06:00:00Z
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!ParseWhole(text.substr(0, 4), year) || !ParseWhole(text.substr(5, 2), month) ||
        !ParseWhole(text.substr(8, 2), day) || !ParseWhole(text.substr(11, 2), hour) ||
        !ParseWhole(text.substr(14, 2), minute) || !ParseWhole(text.substr(17, 2), second)) {
        return std::nullopt;
    }
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const std::time_t time = ::timegm(&fields);
    // timegm normalises an impossible date (February 30th) into a real one: refuse it.
    std::tm back{};
    if (time == -1 || ::gmtime_r(&time, &back) == nullptr || back.tm_year != year - 1900 ||
        back.tm_mon != month - 1 || back.tm_mday != day || back.tm_hour != hour ||
        back.tm_min != minute || back.tm_sec != second) {
        return std::nullopt;
    }
    return time;
}

std::optional<Manifest> ParseManifest(std::string_view text) {
    Manifest manifest;
    bool generation = false;
    bool expire = false;
    while (!text.empty()) {
        const std::string_view line = TakeLine(text);
        if (line.empty()) {
            continue;
        }
        if (line.starts_with(kGeneration)) {
            if (generation || !ParseWhole(line.substr(kGeneration.size()), manifest.Generation)) {
                return std::nullopt;
            }
            generation = true;
        } else if (line.starts_with(kExpire)) {
            const std::string_view when = line.substr(kExpire.size());
            const auto time = ParseUtcTime(when);
            if (expire || !time) {
                return std::nullopt;
            }
            manifest.ExpireText = when;
            manifest.Expire = *time;
            expire = true;
        } else {
            auto entry = ParseEntry(line);
            if (!entry || manifest.Find(entry->Name) != nullptr) {
                return std::nullopt;
            }
            manifest.Entries.push_back(std::move(*entry));
        }
    }
    if (!generation || !expire) {
        return std::nullopt;
    }
    return manifest;
}

}  // namespace quorvane
