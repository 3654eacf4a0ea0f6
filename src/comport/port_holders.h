#pragma once
// Which processes hold a device open, so "port busy" can name the culprit. Linux reads /proc;
// systems without it find nobody.

#include <string>
#include <vector>

namespace corvel {

struct PortHolder {
    int pid = 0;
    std::string command;  // the process's short name, as ps shows it
};

// The processes (at most a handful, in pid order) with an open descriptor on the same device as
// path. procRoot lets tests point it at a tree of their own.
std::vector<PortHolder> FindPortHolders(const std::string& path,
                                        const std::string& procRoot = "/proc");

// "picocom (process 4242)", several joined by ", "; empty for none.
std::string DescribeHolders(const std::vector<PortHolder>& holders);

}  // namespace corvel
