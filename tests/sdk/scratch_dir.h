// A fresh directory under /tmp for one test case, removed with all it holds at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class ScratchDir {
public:
    explicit ScratchDir(const std::string &prefix)
    {
        std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
        if (mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool ok() const { return !path_.empty(); }
    // Empty when the directory could not be made.
    const std::string &path() const { return path_; }

private:
    std::string path_;
};
