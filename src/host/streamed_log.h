#pragma once
// A debug log of any length at a flat cost in memory: each line goes to a temporary file beside
// the final one as it comes ("<final>.tmp"), and the final file is replaced by a rename when an
// operation ends. The lines are UTF-8 in, the 8-bit code page with CR LF out, as WriteTextLines
// writes them.
//
// Adding a line never throws (it is called from inside the port's and the protocol's data
// paths); the first failure is kept and thrown as FileError where the log is published.

#include <cstdint>
#include <cstdio>
#include <string>

namespace corvel {

class StreamedLog {
  public:
    StreamedLog() = default;
    ~StreamedLog();
    StreamedLog(const StreamedLog&) = delete;
    StreamedLog& operator=(const StreamedLog&) = delete;

    // Starts an empty log that will end as finalPath, dropping any unfinished one.
    void Begin(const std::string& finalPath);
    bool Active() const { return active_; }
    // Appends one line; without Begin it starts a log for finalPathIfNew first.
    void Add(const std::string& lineUtf8);
    void Add(const std::string& lineUtf8, const std::string& finalPathIfNew);

    // Ends the log: its lines replace finalPath (the one given to Begin). Throws FileError.
    void Finish();
    // Replaces finalPath with every line so far and goes on appending afterwards (a log that
    // spans several operations). Throws FileError.
    void Publish(const std::string& finalPath);
    // Drops the log and its temporary file; the final file stays as it was.
    void Abandon();

    std::uint64_t Count() const { return count_; }
    // The last line added, as given (for diagnostics and tests).
    const std::string& Last() const { return last_; }

  private:
    void Open(const std::string& finalPath);
    void Fail(const std::string& path, const std::string& action, int err);
    void Close();

    std::FILE* f_ = nullptr;
    std::string final_;
    std::string temp_;
    std::string last_;
    std::uint64_t count_ = 0;
    bool active_ = false;
    // The first failure since Begin, thrown where the log is published.
    std::string errorPath_;
    std::string error_;
    int errorCode_ = 0;
};

}  // namespace corvel
