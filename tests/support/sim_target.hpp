// A simulated target for end-to-end runs: vorlo-sim in the background, its terminal
// for vorlo to open, and what it saw on the wire afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

class SimTarget {
public:
    // Starts vorlo-sim with the given options plus a dump, a wire log and a time-out.
    explicit SimTarget(const std::vector<std::string>& args);
    ~SimTarget();
    SimTarget(const SimTarget&) = delete;
    SimTarget& operator=(const SimTarget&) = delete;

    const std::string& Path() const { return path_; }
    std::string Connection(int baud = 115200) const;
    const std::string& Dir() const { return dir_; }

    // Ends the simulator (SIGTERM) so that its dump and log are complete; exit code.
    int Stop();
    // Waits for it to end by itself (after EXEC with --exit-after-exec); -1 on time-out.
    int WaitExit(int timeoutMs);

    // Everything the host sent, in order; the simulator's notes; its memory image
    // from the flash base to the last written byte.
    std::vector<uint8_t> HostBytes() const;
    std::vector<std::string> Notes() const;
    // The notes that start with the prefix ("gen_iap: write", say), in order.
    std::vector<std::string> NotesStartingWith(const std::string& prefix) const;
    std::vector<uint8_t> Memory() const;
    // How often the host sent this single-byte command.
    int CommandCount(uint8_t command) const;

private:
    std::unique_ptr<class ChildProcess> process_;
    std::string dir_;
    std::string path_;
};
