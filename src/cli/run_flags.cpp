#include "cli/run_flags.hpp"

std::atomic<bool> g_daemonChild{false};
std::atomic<bool> g_daemonRequested{false};
std::atomic<bool> g_busy{false};
std::atomic<bool> g_newCommand{false};
std::atomic<bool> g_kill{false};
std::atomic<bool> g_abort{false};
std::atomic<uint32_t> g_serverBindAddress{0};
