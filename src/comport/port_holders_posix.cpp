#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "comport/port_holders.h"

namespace corvel {

namespace {

constexpr std::size_t kMaxHolders = 4;

bool SameDevice(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool AllDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

}  // namespace

std::vector<PortHolder> FindPortHolders(const std::string& path, const std::string& procRoot) {
    namespace fs = std::filesystem;
    std::vector<PortHolder> holders;
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return holders;
    std::error_code ec;
    for (fs::directory_iterator p(procRoot, ec), end; !ec && p != end; p.increment(ec)) {
        const std::string pidText = p->path().filename().string();
        if (!AllDigits(pidText) || pidText.size() > 9) continue;
        std::error_code e2;
        // Another user's descriptors cannot be read: those processes stay unnamed.
        for (fs::directory_iterator fd(p->path() / "fd", e2), fdEnd; !e2 && fd != fdEnd;
             fd.increment(e2)) {
            struct stat st {};
            if (::stat(fd->path().c_str(), &st) != 0 || !SameDevice(st, target)) continue;
            PortHolder h;
            h.pid = std::stoi(pidText);
            std::ifstream comm(p->path() / "comm");
            std::getline(comm, h.command);
            holders.push_back(h);
            break;
        }
        if (holders.size() >= kMaxHolders) break;
    }
    std::sort(holders.begin(), holders.end(),
              [](const PortHolder& a, const PortHolder& b) { return a.pid < b.pid; });
    return holders;
}

std::string DescribeHolders(const std::vector<PortHolder>& holders) {
    std::string s;
    for (const PortHolder& h : holders) {
        if (!s.empty()) s += ", ";
        s += (h.command.empty() ? std::string("a program") : h.command) + " (process " +
             std::to_string(h.pid) + ")";
    }
    return s;
}

}  // namespace corvel
