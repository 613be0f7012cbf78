#include "Scenario.h"

#include <set>

bool SplitWords(const std::string& text, std::vector<std::string>& words) {
    words.clear();
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
        if (i >= text.size()) break;
        std::string word;
        if (text[i] == '"') {
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        word += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                word += text[i++];
            }
            if (!closed) return false;
        } else {
            while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') {
                word += text[i++];
            }
        }
        words.push_back(std::move(word));
    }
    return true;
}

bool ParseStep(const std::string& text, Step& step, std::string& error) {
    step = Step{};
    step.source = text;
    while (!step.source.empty() && (step.source.back() == '\r' || step.source.back() == ' ')) {
        step.source.pop_back();
    }
    std::vector<std::string> words;
    if (!SplitWords(text, words)) {
        error = "unclosed quote";
        return false;
    }
    if (words.empty() || words[0][0] == '#') return true;
    step.verb = words[0];
    static const std::set<std::string> verbs = {
        "call",     "get",   "put",  "wait",   "count",    "pump", "msgbox", "nomsgbox", "window",
        "nowindow", "close", "echo", "exists", "noexists", "wav",  "read",   "size"};
    if (verbs.count(step.verb) == 0) {
        error = "unknown step \"" + step.verb + "\"";
        return false;
    }
    for (size_t i = 1; i < words.size(); ++i) {
        const bool takesResult = step.verb == "call" || step.verb == "get" || step.verb == "put" ||
                                 step.verb == "read" || step.verb == "size" || step.verb == "wav";
        if (takesResult && (words[i] == "=>" || words[i] == "->")) {
            if (i + 1 >= words.size()) {
                error = "nothing after " + words[i];
                return false;
            }
            if (words[i] == "=>") {
                step.hasExpect = true;
                step.expect = words[i + 1];
            } else {
                step.store = words[i + 1];
            }
            ++i;
            continue;
        }
        step.args.push_back(words[i]);
    }
    const size_t count = step.args.size();
    bool ok = true;
    if (step.verb == "call" || step.verb == "get")
        ok = count >= 1 && (step.verb == "call" || count == 1);
    if (step.verb == "put") ok = count == 2;
    if (step.verb == "wait") ok = count >= 1 && count <= 3;
    if (step.verb == "count") {
        ok = count == 3 && (step.args[1] == ">=" || step.args[1] == "<=" || step.args[1] == "==");
    }
    if (step.verb == "pump" || step.verb == "exists" || step.verb == "noexists" ||
        step.verb == "read" || step.verb == "size") {
        ok = count == 1;
    }
    if (step.verb == "wav") ok = count == 4;
    if (step.verb == "msgbox") ok = count <= 1;
    if (step.verb == "nomsgbox" || step.verb == "window" || step.verb == "nowindow" ||
        step.verb == "close") {
        ok = count == 0;
    }
    if (!ok) error = "wrong arguments for \"" + step.verb + "\"";
    return ok;
}

bool Matches(const std::string& result, const std::string& expect) {
    if (expect == "!ok") return true;
    if (expect == "!error") return false;
    if (!expect.empty() && expect[0] == '~')
        return result.find(expect.substr(1)) != std::string::npos;
    if (!expect.empty() && expect[0] == '*') {
        const std::string tail = expect.substr(1);
        return result.size() >= tail.size() &&
               result.compare(result.size() - tail.size(), tail.size(), tail) == 0;
    }
    return result == expect;
}
