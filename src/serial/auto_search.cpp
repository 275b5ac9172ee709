#include "serial/auto_search.hpp"

#include <cstring>
#include <string>

#include "base/exit.hpp"
#include "base/messages.hpp"
#include "base/run_flags.hpp"
#include "base/text.hpp"
#include "context/run_context.hpp"
#include "platform/process.hpp"
#include "serial/interface.hpp"
#include "serial/port_list.hpp"
#include "serial/remembered_port.hpp"
#include "serial/serial_port.hpp"

namespace {
// One search state for the run: the AUTO string is a setting of the run, whichever
// driver opens with it.
AutoSearchState g_auto;

// Serial parameters used when an AUTO string names none.
constexpr const char* kDefaultParams = ",9600,8,N,1";

// The serial parameters of an AUTO string: everything from its first comma on. A
// string written with blanks only ("AUTO 9600 8 N 1") gives its parameters from the
// first blank after the AUTO word and its filter.
std::string AutoParams(const char* autoString) {
    const char* comma = strchr(autoString, ',');
    if (comma) return comma;
    const char* afterWord = strstr(autoString, "AUTO");
    afterWord = afterWord ? afterWord + 4 : autoString;
    const char* close = strchr(afterWord, ')');
    if (strchr(afterWord, '(') && close) afterWord = close + 1;
    const char* blank = strchr(afterWord, ' ');
    if (blank && blank[strspn(blank, " ")] != '\0') return blank;
    return kDefaultParams;
}

// Opens the candidate with the driver's own open and connect. One attempt, or with
// retryUntilTimeout attempts until the search's time-out has passed.
bool TryCandidate(const AutoSearchOps& ops, const char* key, char* info, const AutoSearchOptions& options,
                  const std::string& name, const std::string& params, uint32_t searchStart) {
    if (!ComProbe(name.c_str())) {
        g_auto.tried.push_back(name + " (could not be opened)");
        return false;
    }
    g_auto.tried.push_back(name);
    std::string connection = name + params;
    SetConnectionString(connection.c_str());
    g_auto.lastTried = connection;
    for (;;) {
        if (ops.open(g_auto.lastTried.c_str()) && ops.connect(key, info)) {
            if (options.announceFound) MsgPrint(MSG_DEBUG, "Device found on port %s", name.c_str());
            return true;
        }
        ops.close();
        if (!options.retryUntilTimeout || g_flags.abort) return false;
        uint32_t elapsed = TickCountMs() - searchStart;
        if (ConnectTimeout() <= 0 || elapsed >= static_cast<uint32_t>(ConnectTimeout()) * 1000u) return false;
    }
}

bool SearchFailed(const std::string& params, const AutoSearchOptions& options) {
    std::string autoForm = "AUTO" + params;
    SetConnectionString(autoForm.c_str());
    RememberedPortWrite("");
    if (options.exitWhenNoneAnswers != 0) AppExit(options.exitWhenNoneAnswers);
    return false;
}
}  // namespace

const AutoSearchState& AutoSearch() { return g_auto; }

bool AutoSearchTake(const char* connection) {
    AutoSearchState& state = g_auto;
    if (!connection || !strstr(connection, "AUTO")) return false;
    if (const char* paren = strchr(connection, '(')) {
        CopyCut(state.filter, sizeof state.filter, paren + 1);
        char* close = strchr(state.filter, ')');
        if (close)
            *close = '\0';
        else
            state.filter[0] = '\0';  // no closing bracket: every port qualifies
    }
    state.pending = true;
    state.autoString = connection;
    return true;
}

bool SerialAutoSearch(const AutoSearchOps& ops, const char* key, char* info, const AutoSearchOptions& options) {
    g_auto.pending = false;
    g_auto.tried.clear();
    const std::string params = AutoParams(g_auto.autoString.c_str());
    const std::string remembered = options.remembered ? RememberedPortRead() : "";
    const uint32_t searchStart = TickCountMs();

    if (!remembered.empty()) {
        if (TryCandidate(ops, key, info, options, remembered, params, searchStart)) {
            RememberedPortWrite(remembered.c_str());
            return true;
        }
        if (options.retryUntilTimeout && g_flags.abort) return SearchFailed(params, options);
    }

    if (PortEnumerate(g_auto.filter, false, true, true) == 0) {
        MsgPrint(MSG_PLAIN, "%s", options.noPortText);
        // The remembered port's attempt named it in the connection setting; a failed
        // search leaves the AUTO form, so that the next open searches again.
        if (!remembered.empty() || options.exitWhenNoneAnswers != 0) return SearchFailed(params, options);
        RememberedPortWrite("");
        return false;
    }
    while (const char* taken = PortTakeNext()) {
        std::string name = taken;
        MsgPrint(MSG_PLAIN, "Trying port %s", name.c_str());
        if (options.traceTrying) MsgPrint(MSG_DEBUG, "Trying port %s", name.c_str());
        if (name == remembered) continue;  // tried first already
        if (TryCandidate(ops, key, info, options, name, params, searchStart)) {
            if (options.remembered) RememberedPortWrite(name.c_str());
            return true;
        }
        if (options.retryUntilTimeout && g_flags.abort) break;
    }
    return SearchFailed(params, options);
}
