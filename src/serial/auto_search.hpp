// The AUTO connection string ("AUTO", optionally a filter in parentheses, then the
// serial parameters: "AUTO(FTDI),115200,8,N,1") and the search over the ports that
// it starts: the port remembered from the last successful search first, then every
// listed port, last listed first. Drivers reach this through drivers/kit/serial_driver.
#pragma once

#include <functional>
#include <string>
#include <vector>

// The run's AUTO bookkeeping.
struct AutoSearchState {
    bool pending = false;
    char filter[128] = "";   // text between "(" and ")" of the AUTO string
    std::string autoString;  // the whole AUTO string
    std::string lastTried;   // the concrete string of the last candidate opened
    std::vector<std::string> tried;  // the candidates of the last search, in order
};
const AutoSearchState& AutoSearch();

// The driver's own operations, which the search calls for every candidate.
struct AutoSearchOps {
    std::function<bool(const char* connection)> open;          // the driver's open
    std::function<bool(const char* key, char* info)> connect;  // its protocol connect
    std::function<void()> close;                               // its close
};

struct AutoSearchOptions {
    // Keep opening and connecting a candidate until it answers or the connection
    // time-out (seconds, counted from the start of the search) has passed; an abort
    // request ends the search. Off: one attempt per candidate.
    bool retryUntilTimeout = false;
    // Print "Device found on port %s" at level 5 when a port answered.
    bool announceFound = false;
    // Try the remembered port first and remember the port that answered. Off: only
    // the listed ports, and the remembered port is only forgotten when none answers.
    bool remembered = true;
    // Said at level 0 when the list holds no port.
    const char* noPortText = "No connection found!";
    // "Trying port %s" also at level 5.
    bool traceTrying = true;
    // Not 0: a search in which no port answered ends the process with this exit code.
    int exitWhenNoneAnswers = 0;
};

// When the connection string is an AUTO string: takes its filter, marks the search
// pending and returns true. Otherwise returns false and changes nothing.
bool AutoSearchTake(const char* connection);

// The search: clears the pending mark, tries the candidates with the driver's own open
// and connect, remembers the port that answered and names it in the connection
// setting. Without an answer the setting goes back to the AUTO form.
bool SerialAutoSearch(const AutoSearchOps& ops, const char* key, char* info, const AutoSearchOptions& options = {});
