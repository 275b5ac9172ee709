// Decides what happens to each acknowledge the target sends: the fault options let a
// test lose or garble chosen acknowledges, or make the target stop acknowledging.
#pragma once

#include <cstdint>

#include "options.hpp"

enum class AckFate { Send, Drop, Corrupt };

class AckFaults {
public:
    explicit AckFaults(const SimOptions& options) : options_(options) {}
    // Counts one acknowledge for `command` and says what becomes of it.
    AckFate Next(char command);

private:
    bool Selected(const std::vector<AckSelector>& list, char command) const;

    const SimOptions& options_;
    uint32_t total_ = 0;
    uint32_t perCommand_[256] = {};
};
