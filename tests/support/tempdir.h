#pragma once

#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes a file below the folder, replacing one of that name.
    void write(const std::string& name, const std::string& content) const;

private:
    std::string path_;
};

}  // namespace testsupport
