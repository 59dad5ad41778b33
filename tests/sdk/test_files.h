// Files and text of one test case: a fresh directory under /tmp, removed with all it
// holds at the end; a file read back whole; text split into lines or cells.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

class ScratchDir {
public:
    explicit ScratchDir(const std::string &prefix)
    {
        std::string tmpl = "/tmp/" + prefix + ".XXXXXX";
        if (mkdtemp(tmpl.data()))
            path_ = tmpl;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    bool ok() const { return !path_.empty(); }
    // Empty when the directory could not be made.
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Empty for a file that cannot be read.
inline std::string readFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

inline std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// A trailing separator ends with an empty cell, as an empty last CSV column.
inline std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> cells;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, sep))
        cells.push_back(cell);
    if (!line.empty() && line.back() == sep)
        cells.push_back("");
    return cells;
}
