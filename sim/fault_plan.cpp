#include "fault_plan.hpp"

#include <algorithm>

#include "text.hpp"

namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};
constexpr KindName kKinds[] = {{FaultKind::Drop, "drop"}, {FaultKind::Corrupt, "corrupt"}, {FaultKind::Dup, "dup"},
                               {FaultKind::Late, "late"}, {FaultKind::Short, "short"},     {FaultKind::Nak, "nak"}};
constexpr uint32_t kDefaultLateMs = 6000;
constexpr uint32_t kMaxLateMs = 600000;

bool ParseItem(const std::string& text, FaultItem& item, std::string& error) {
    size_t at = text.find('@');
    if (at == std::string::npos) {
        error = "no @KEY";
        return false;
    }
    std::string kind = text.substr(0, at);
    std::string arg;
    size_t colon = kind.find(':');
    bool hasArg = colon != std::string::npos;
    if (hasArg) {
        arg = kind.substr(colon + 1);
        kind.resize(colon);
    }
    bool known = false;
    for (const KindName& k : kKinds)
        if (kind == k.name) {
            item.kind = k.kind;
            known = true;
        }
    if (!known) {
        error = "unknown kind '" + kind + "'; kinds: drop, corrupt[:HEX], dup, late[:MS], short, nak";
        return false;
    }
    if (hasArg) {
        std::vector<uint8_t> byte;
        if (item.kind == FaultKind::Corrupt) {
            if (!ParseHexBytes(arg, byte) || byte.size() != 1) {
                error = "corrupt takes one hexadecimal byte";
                return false;
            }
            item.arg = byte[0];
        } else if (item.kind == FaultKind::Late) {
            if (!ParseU32(arg, item.arg, kMaxLateMs)) {
                error = "late takes milliseconds, at most 600000";
                return false;
            }
        } else {
            error = kind + " takes no argument";
            return false;
        }
        item.hasArg = true;
    } else if (item.kind == FaultKind::Late) {
        item.arg = kDefaultLateMs;
    }

    std::string key = text.substr(at + 1);
    size_t hash = key.find('#');
    if (hash != std::string::npos) {
        std::string range = key.substr(hash + 1);
        key.resize(hash);
        size_t dash = range.find('-');
        bool ok = ParseU32(range.substr(0, dash), item.first) && item.first > 0;
        if (ok && dash != std::string::npos) {
            std::string last = range.substr(dash + 1);
            ok = last.empty() || (ParseU32(last, item.last) && item.last >= item.first);
        } else {
            item.last = item.first;
        }
        if (!ok) {
            error = "the reply numbers are #N, #N-M or #N- counted from 1";
            return false;
        }
    }
    if (key.empty()) {
        error = "no key after @";
        return false;
    }
    item.key = key;
    return true;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const KindName& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

bool ParseFaultPlan(const std::string& text, std::vector<FaultItem>& items, std::string& error) {
    size_t added = 0;
    size_t start = 0;
    for (;;) {
        size_t end = text.find(';', start);
        std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty()) {
            FaultItem item;
            if (!ParseItem(part, item, error)) {
                error = "fault item '" + part + "': " + error;
                return false;
            }
            items.push_back(item);
            ++added;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    if (!added) error = "an empty fault plan";
    return added > 0;
}

uint32_t FaultPlan::KeyCount(std::string_view key) const {
    auto it = perKey_.find(key);
    return it == perKey_.end() ? 0 : it->second;
}

bool FaultPlan::Hits(const FaultItem& item, std::string_view key, uint32_t keyCount, uint32_t total) const {
    if (item.key == "*") return total >= item.first && total <= item.last;
    return item.key == key && keyCount >= item.first && keyCount <= item.last;
}

bool FaultPlan::Planned(std::string_view key, FaultKind kind) const {
    uint32_t keyCount = KeyCount(key) + 1;
    for (const FaultItem& item : items_)
        if (item.kind == kind && Hits(item, key, keyCount, total_ + 1)) return true;
    return false;
}

uint32_t FaultPlan::CountReceived(std::string_view key, std::vector<const FaultItem*>& hits) {
    hits.clear();
    if (std::none_of(items_.begin(), items_.end(), [&](const FaultItem& item) { return item.key == key; })) return 0;
    auto it = perKey_.find(key);
    if (it == perKey_.end()) it = perKey_.emplace(std::string(key), 0).first;
    uint32_t keyCount = ++it->second;
    for (const FaultItem& item : items_)
        if (item.key == key && keyCount >= item.first && keyCount <= item.last) hits.push_back(&item);
    return keyCount;
}

uint32_t FaultPlan::Count(std::string_view key, std::vector<const FaultItem*>& hits) {
    ++total_;
    auto it = perKey_.find(key);
    if (it == perKey_.end()) it = perKey_.emplace(std::string(key), 0).first;
    uint32_t keyCount = ++it->second;
    hits.clear();
    for (const FaultItem& item : items_)
        if (Hits(item, key, keyCount, total_)) hits.push_back(&item);
    return keyCount;
}
