#include "ack_faults.hpp"

AckFate AckFaults::Next(char command) {
    ++total_;
    ++perCommand_[static_cast<uint8_t>(command)];
    if (options_.noAckAfter && total_ > *options_.noAckAfter) return AckFate::Drop;
    if (Selected(options_.dropAck, command)) return AckFate::Drop;
    if (Selected(options_.corruptAck, command)) return AckFate::Corrupt;
    return AckFate::Send;
}

bool AckFaults::Selected(const std::vector<AckSelector>& list, char command) const {
    for (const AckSelector& s : list) {
        if (s.command && s.command != command) continue;
        uint32_t count = s.command ? perCommand_[static_cast<uint8_t>(command)] : total_;
        if (count >= s.first && count <= s.last) return true;
    }
    return false;
}
