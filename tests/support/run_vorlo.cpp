#include "support/run_vorlo.hpp"

#include "support/process.hpp"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    ChildProcess child(program, args, {options.env, options.workDir, options.input, "", ""});
    RunResult result;
    bool inTime = child.Collect(result.out, result.err, options.timeoutMs);
    int code = child.Wait(options.timeoutMs);
    result.exitCode = inTime && code >= 0 ? code : -1;
    return result;
}

RunResult RunVorlo(const std::vector<std::string>& args, const RunOptions& options) {
    return RunProgram(VORLO_BIN, args, options);
}

namespace {
struct TempDirs {
    std::vector<std::string> dirs;
    ~TempDirs() {
        for (const auto& d : dirs) std::filesystem::remove_all(d);
    }
};
TempDirs g_tempDirs;
}  // namespace

std::string MakeTempDir() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vorlo-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    std::string dir = mkdtemp(buffer.data());
    g_tempDirs.dirs.push_back(dir);
    return dir;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
    return names;
}
