#pragma once
// A fresh directory under $TMPDIR (or /tmp), removed with everything in it when the object ends.

#include <string>

namespace mistvale {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // False when the directory could not be made; Path() is then empty.
    bool Ok() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Writes `text` into File(name); false on failure.
    bool WriteFile(const std::string& name, const std::string& text) const;

private:
    std::string path_;
};

} // namespace mistvale
