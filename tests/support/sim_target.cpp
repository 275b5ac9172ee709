#include "support/sim_target.hpp"

#include <cstdio>
#include <sstream>

#include "support/process.hpp"
#include "support/run_vorlo.hpp"

SimTarget::SimTarget(const std::vector<std::string>& args) : dir_(MakeTempDir()) {
    std::vector<std::string> all = {"--dump-bin=" + dir_ + "/memory.bin", "--log=" + dir_ + "/wire.log", "--timeout=60"};
    all.insert(all.end(), args.begin(), args.end());
    process_ = std::make_unique<ChildProcess>(VORLO_SIM_BIN, all, ProcessOptions{kSimEnvironment, "", "", "", dir_ + "/sim.err"});
    path_ = process_->ReadLine(10000);  // the first line is the terminal's path
}

SimTarget::~SimTarget() { Stop(); }

std::string SimTarget::Connection(int baud) const { return path_ + "," + std::to_string(baud) + ",8,N,1"; }

int SimTarget::Stop() { return process_->Stop(); }

int SimTarget::WaitExit(int timeoutMs) {
    int code = process_->Wait(timeoutMs);
    if (code == -1) process_->Stop(0);
    return code < 0 ? -1 : code;
}

std::vector<uint8_t> SimTarget::HostBytes() const {
    std::vector<uint8_t> bytes;
    std::istringstream log(ReadFile(dir_ + "/wire.log"));
    std::string time, direction, hex;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        fields >> time >> direction;
        if (direction != "H>T") continue;
        while (fields >> hex) bytes.push_back(static_cast<uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    return bytes;
}

std::vector<std::string> SimTarget::Notes() const {
    std::vector<std::string> notes;
    std::istringstream log(ReadFile(dir_ + "/wire.log"));
    for (std::string line; std::getline(log, line);) {
        size_t mark = line.find(" #   ");
        if (mark != std::string::npos) notes.push_back(line.substr(mark + 5));
    }
    return notes;
}

std::vector<std::string> SimTarget::NotesStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const std::string& note : Notes())
        if (note.rfind(prefix, 0) == 0) matching.push_back(note);
    return matching;
}

std::vector<uint8_t> SimTarget::Memory() const {
    std::string content = ReadFile(dir_ + "/memory.bin");
    return std::vector<uint8_t>(content.begin(), content.end());
}

int SimTarget::CommandCount(uint8_t command) const {
    int count = 0;
    std::istringstream log(ReadFile(dir_ + "/wire.log"));
    std::string time, direction, first, more;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        // A command byte is a chunk of its own: the host waits for its answer.
        if (fields >> time >> direction >> first && direction == "H>T" && !(fields >> more) &&
            std::stoul(first, nullptr, 16) == command)
            ++count;
    }
    return count;
}
