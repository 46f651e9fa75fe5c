// Programs run by tests as a person runs them: through the shell, with what
// they print kept.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kv::test {

struct CommandRun {
    int status = -1;     // the exit status; -1 when it could not start or a signal ended it
    std::string output;  // its standard output (add "2>&1" to the command for both)
};

inline CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A tool's run with its two outputs apart: standard error goes through
// errorFile, which is read back and removed.
struct ToolRun {
    int status = -1;
    std::string out, err;
};

inline ToolRun RunTool(const std::string& commandLine, const std::filesystem::path& errorFile) {
    const CommandRun run = RunCommand(commandLine + " 2>'" + errorFile.string() + "'");
    ToolRun tool{run.status, run.output, {}};
    std::ifstream e(errorFile);
    tool.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    std::filesystem::remove(errorFile);
    return tool;
}

}  // namespace kv::test
