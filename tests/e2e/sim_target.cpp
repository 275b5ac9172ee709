#include "e2e/sim_target.hpp"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/run_vorlo.hpp"

SimTarget::SimTarget(const std::vector<std::string>& args) : dir_(MakeTempDir()) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        int err = open((dir_ + "/sim.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, 2);
        std::vector<std::string> all = {VORLO_SIM_BIN, "--dump-bin=" + dir_ + "/memory.bin",
                                        "--log=" + dir_ + "/wire.log", "--timeout=60"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(VORLO_SIM_BIN, argv.data());
        _exit(127);
    }
    close(out[1]);
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
}

SimTarget::~SimTarget() { Stop(); }

std::string SimTarget::Connection(int baud) const { return path_ + "," + std::to_string(baud) + ",8,N,1"; }

int SimTarget::Stop() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGTERM);
        return WaitExit(5000);
    }
    return exitCode_;
}

int SimTarget::WaitExit(int timeoutMs) {
    if (exited_ || pid_ <= 0) return exitCode_;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return exitCode_;
        }
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    exited_ = true;
    return -1;
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
