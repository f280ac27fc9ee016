#pragma once

#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

// One entry of the run's error list: a complete French message and its code (0 for set-up
// checks and transfers, 1 for the missing source folder and every integration error).
struct ErrorEntry {
    std::string Texte;
    int Code = 0;
    // When the entry was recorded. The report stamps its lines when it writes them; the status
    // file gives this moment, which tells a slow step from a quick one.
    std::time_t Moment = 0;
};

// The run's error list, in the order the entries were added.
class ListeErreurs {
  public:
    void Ajouter(std::string texte, int code) {
        entries_.push_back({std::move(texte), code, std::time(nullptr)});
    }
    // Attaches to the entry added last what only the journal adds to it, on a line of its own:
    // the cause a person on the store machine needs (the parser's reason and line, the drop-in
    // that opens a table).
    void Preciser(std::string precision) {
        if (!entries_.empty()) {
            precisions_.resize(entries_.size());
            precisions_.back() = std::move(precision);
        }
    }
    // The precision of each entry, by its index; empty for most.
    std::string Precision(std::size_t index) const {
        return index < precisions_.size() ? precisions_[index] : std::string();
    }
    const std::vector<ErrorEntry>& Entries() const { return entries_; }
    std::size_t Count() const { return entries_.size(); }
    bool Empty() const { return entries_.empty(); }
    // Every occurrence of `from` in the texts becomes `to`: a dry run's entries name the
    // download folder, not the temporary folder it used instead.
    void ReplaceInTexts(const std::string& from, const std::string& to) {
        for (ErrorEntry& entry : entries_) {
            for (auto at = entry.Texte.find(from); !from.empty() && at != std::string::npos;
                 at = entry.Texte.find(from, at + to.size())) {
                entry.Texte.replace(at, from.size(), to);
            }
        }
    }

  private:
    std::vector<ErrorEntry> entries_;
    std::vector<std::string> precisions_;
};

}  // namespace quorvane
