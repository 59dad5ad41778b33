// CPU time of this process and of some of its threads, for the benchmarks' cost figures.
#pragma once

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace bench {

// User plus system time of every thread of this process so far, in seconds.
inline double ProcessCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// User plus system time, in seconds, of the live threads whose name (/proc comm) is `name`.
inline double CpuSecondsOfThreadsNamed(const std::string& name)
{
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    double total = 0;
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string threadName;
        std::getline(comm, threadName);
        if (threadName != name)
            continue;
        std::ifstream stat(base + "/stat");
        std::string line;
        std::getline(stat, line);
        // Fields 14 and 15 (utime, stime) follow the parenthesised command name.
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string skip;
        for (int i = 3; i <= 13; ++i)
            fields >> skip;
        long utime = 0, stime = 0;
        fields >> utime >> stime;
        total += static_cast<double>(utime + stime) / ticks;
    }
    closedir(dir);
    return total;
}

}  // namespace bench
