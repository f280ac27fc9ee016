#pragma once

#include <filesystem>
#include <string>

// Every helper the tests share lives in quorvane::testing. Inside namespace quorvane that name
// hides GoogleTest's own, which is therefore always spelled ::testing.
namespace quorvane::testing {

// A fresh folder per test, removed afterwards with everything in it (permissions restored first,
// so that a test that makes something read-only still cleans up).
class TempDir {
  public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& Path() const { return path_; }
    // The folder as the program spells folders: ending with "/".
    std::string Folder() const { return path_.string() + "/"; }

  private:
    std::filesystem::path path_;
};

}  // namespace quorvane::testing
