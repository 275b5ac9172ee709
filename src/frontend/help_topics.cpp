#include "frontend/help_topics.hpp"

#include <cstring>

#include "base/text.hpp"

namespace {
// \fB \fI \fR \fP \- \e \& and \(em inside a line.
std::string Inline(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'f' && i + 1 < text.size()) {
            ++i;  // the font letter
        } else if (c == '-') {
            out += '-';
        } else if (c == 'e') {
            out += '\\';
        } else if (c == '(' && i + 2 < text.size()) {
            out += text.compare(i + 1, 2, "em") == 0 ? "--" : "";
            i += 2;
        } else if (c != '&') {
            out += c;
        }
    }
    return out;
}

// The arguments of a font macro (.B, .BR ...): quoted ones keep their blanks; the
// alternating forms join theirs without a blank.
std::string FontMacro(const std::string& macro, const std::string& rest) {
    std::vector<std::string> args;
    for (size_t i = 0; i < rest.size();) {
        if (rest[i] == ' ') {
            ++i;
            continue;
        }
        if (rest[i] == '"') {
            size_t end = rest.find('"', i + 1);
            if (end == std::string::npos) end = rest.size();
            args.push_back(rest.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t end = rest.find(' ', i);
            if (end == std::string::npos) end = rest.size();
            args.push_back(rest.substr(i, end - i));
            i = end;
        }
    }
    const bool alternating = macro.size() == 2;
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) out += (i && !alternating ? " " : "") + args[i];
    return Inline(out);
}

std::string Normalized(const std::string& name) {
    std::string out;
    for (char c : UpperCase(name))
        if (c != ' ' && c != '-' && c != '_' && c != '"') out += c;
    if (out == "FORMATS") return "CODEFORMATS";
    if (out == "EXITCODES" || out == "EXIT" || out == "EXITCODE") return "EXITSTATUS";
    return out;
}

struct Line {
    std::string macro;  // "" for text
    std::string rest;
};

std::vector<Line> Lines(const std::string& roff) {
    std::vector<Line> lines;
    for (const std::string& l : SplitFields(roff, '\n')) {
        if (l.rfind(".\\\"", 0) == 0) continue;
        if (!l.empty() && l[0] == '.') {
            size_t space = l.find(' ');
            lines.push_back({l.substr(1, space == std::string::npos ? std::string::npos : space - 1),
                             space == std::string::npos ? "" : l.substr(space + 1)});
        } else {
            lines.push_back({"", l});
        }
    }
    return lines;
}

std::string Title(const std::string& rest) {
    std::string t = rest;
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    return Inline(t);
}
}  // namespace

std::string RoffToText(const std::string& roff) {
    std::string out;
    int base = 7;          // the text's indent (.RS moves it in)
    bool tagNext = false;  // the next line is a tagged paragraph's tag
    bool inBody = false;   // lines go further in, under a tag
    auto put = [&](const std::string& text) {
        int at = tagNext ? base : base + (inBody ? 7 : 0);
        if (tagNext) {
            tagNext = false;
            inBody = true;
        }
        out += std::string(at, ' ') + text + "\n";
    };
    for (const Line& l : Lines(roff)) {
        const std::string& m = l.macro;
        if (m.empty()) {
            put(Inline(l.rest));
        } else if (m == "B" || m == "I" || m == "BR" || m == "BI" || m == "IR" || m == "RB" || m == "IB" || m == "RI") {
            put(FontMacro(m, l.rest));
        } else if (m == "SH" || m == "SS") {
            // Appended piece by piece: GCC 12 takes "text" + string&& for an overlapping copy.
            out += m == "SH" ? "\n" : "\n   ";
            out += m == "SH" ? UpperCase(Title(l.rest)) : Title(l.rest);
            out += '\n';
            base = 7;
            tagNext = inBody = false;
        } else if (m == "TP") {
            out += "\n";
            tagNext = true;
            inBody = false;
        } else if (m == "TQ") {
            tagNext = true;
            inBody = false;
        } else if (m == "PP" || m == "P" || m == "LP") {
            out += "\n";
            tagNext = inBody = false;
        } else if (m == "RS") {
            base += 7;
        } else if (m == "RE") {
            base = base > 7 ? base - 7 : 7;
        }
        // .TH, .nf, .fi: nothing to do, the text goes line by line anyway.
    }
    return out;
}

std::vector<std::string> HelpTopics() {
    std::vector<std::string> topics;
    for (const Line& l : Lines(ManualPageSource()))
        if (l.macro == "SH" || l.macro == "SS") topics.push_back(Title(l.rest));
    return topics;
}

std::vector<std::string> HelpTopicWords() {
    std::vector<std::string> words = {"commands", "connection", "drivers", "formats", "daemon", "exit-codes"};
    bool inDrivers = false;
    for (const Line& l : Lines(ManualPageSource())) {
        if (l.macro == "SH") inDrivers = Title(l.rest) == "DRIVERS";
        if (l.macro == "SS" && inDrivers) words.push_back(LowerCase(Title(l.rest)));
    }
    return words;
}

bool WriteHelpTopic(FILE* out, const std::string& topic) {
    const std::string wanted = Normalized(topic);
    const std::vector<Line> lines = Lines(ManualPageSource());
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        if ((l.macro != "SH" && l.macro != "SS") || Normalized(Title(l.rest)) != wanted) continue;
        std::string roff;
        for (size_t j = i; j < lines.size(); ++j) {
            const Line& k = lines[j];
            if (j > i && (k.macro == "SH" || (l.macro == "SS" && k.macro == "SS"))) break;
            roff += (k.macro.empty() ? k.rest : "." + k.macro + (k.rest.empty() ? "" : " " + k.rest)) + "\n";
        }
        fputs(RoffToText(roff).c_str() + 1, out);  // without the empty line in front
        fflush(out);
        return true;
    }
    return false;
}
