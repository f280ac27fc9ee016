#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

class FileWriteError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A text file written line by line. No file stays open between calls: each line is its own
// open, seek to the end, write and close, so the file on disk is complete up to the last line
// written at every moment. Lines are given as UTF-8 and written as Windows-1252 with CR LF.
class TFichierLog {
  public:
    explicit TFichierLog(std::string path) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }
    // Creates the file, or empties it when it exists.
    void Creer() const;
    // Appends the line and CR LF to the existing file.
    void AjouterLigne(const std::string& line) const;

  private:
    std::string path_;
};

}  // namespace quorvane
