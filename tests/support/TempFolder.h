#pragma once

#include <filesystem>
#include <set>
#include <string>

#include "text/Text.h"

// A fresh folder for one test, removed with everything in it when the test ends.
class TempFolder {
  public:
    TempFolder();
    explicit TempFolder(const std::filesystem::path& under);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::set<std::string> Names() const;

  private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& path);
Text AsText(const std::filesystem::path& path);
