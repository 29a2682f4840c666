// A fresh folder for one test, removed with everything in it afterwards; and
// TMPDIR pointed at one for a while.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace notavox::testing {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "notavox-test-XXXXXX").string();
        char* made = ::mkdtemp(tmpl.data());
        path_ = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Points TMPDIR at `path` while it lives, then puts back what was there,
// also when the test ends early at a failed assertion.
class TmpdirOverride {
public:
    explicit TmpdirOverride(const std::string& path) {
        const char* old = std::getenv("TMPDIR");
        had_ = old != nullptr;
        if (had_) old_ = old;
        ::setenv("TMPDIR", path.c_str(), 1);
    }
    ~TmpdirOverride() {
        if (had_)
            ::setenv("TMPDIR", old_.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    TmpdirOverride(const TmpdirOverride&) = delete;
    TmpdirOverride& operator=(const TmpdirOverride&) = delete;

private:
    std::string old_;
    bool had_ = false;
};

}  // namespace notavox::testing
