#include "platform/registry/registry_tree.h"

#include <algorithm>
#include <cstdio>

namespace talrec::registry {

namespace {

constexpr std::string_view kHeader = "talrec-registry 1";
constexpr std::string_view kTrailer = "end";
constexpr std::size_t kMaxName = 255;

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendHex(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789abcdef";
    out += digits[c >> 4];
    out += digits[c & 15];
}

std::string EscapeName(const std::string& name) {
    std::string out;
    for (char ch : name) {
        auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || c == '%' || c == '[' || c == ']') {
            out += '%';
            AppendHex(out, c);
        } else {
            out += ch;
        }
    }
    return out;
}

bool UnescapeName(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (static_cast<unsigned char>(c) < 0x20 || c == '[' || c == ']') {
            return false;
        } else {
            out += c;
        }
    }
    return !out.empty() && out.size() <= kMaxName;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        switch (ch) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    out += "\\x";
                    AppendHex(out, c);
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

// Reads a quoted string at the start of in; returns the characters consumed, 0 on failure.
std::size_t Unquote(std::string_view in, std::string& out) {
    out.clear();
    if (in.empty() || in[0] != '"') return 0;
    for (std::size_t i = 1; i < in.size(); ++i) {
        char c = in[i];
        if (c == '"') return i + 1;
        if (static_cast<unsigned char>(c) < 0x20) return 0;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i >= in.size()) return 0;
        switch (in[i]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x': {
                if (i + 2 >= in.size()) return 0;
                int hi = HexDigit(in[i + 1]), lo = HexDigit(in[i + 2]);
                if (hi < 0 || lo < 0) return 0;
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                break;
            }
            default:
                return 0;
        }
    }
    return 0;
}

std::string FormatValue(const std::string& name, const Value& value) {
    std::string line = name.empty() ? "@" : Quote(name);
    line += '=';
    if (value.type == REG_SZ) {
        line += Quote(value.data);
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(value.data[i]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(v));
        line += buf;
    } else {
        line += "hex(" + std::to_string(value.type) + "):";
        for (std::size_t i = 0; i < value.data.size(); ++i) {
            if (i) line += ',';
            AppendHex(line, static_cast<unsigned char>(value.data[i]));
        }
    }
    return line;
}

bool ParseValue(std::string_view line, std::string& name, Value& value) {
    std::size_t pos;
    if (line.starts_with('@')) {
        name.clear();
        pos = 1;
    } else {
        pos = Unquote(line, name);
        if (pos == 0 || name.empty()) return false;
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string_view data = line.substr(pos + 1);
    value.data.clear();
    if (data.starts_with('"')) {
        value.type = REG_SZ;
        return Unquote(data, value.data) == data.size();
    }
    if (data.starts_with("dword:")) {
        data.remove_prefix(6);
        if (data.size() != 8) return false;
        DWORD v = 0;
        for (char c : data) {
            int d = HexDigit(c);
            if (d < 0) return false;
            v = (v << 4) | static_cast<DWORD>(d);
        }
        value.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) value.data += static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (!data.starts_with("hex(")) return false;
    data.remove_prefix(4);
    std::size_t close = data.find("):");
    if (close == 0 || close == std::string_view::npos || close > 10) return false;
    unsigned long long type = 0;
    for (char c : data.substr(0, close)) {
        if (c < '0' || c > '9') return false;
        type = type * 10 + static_cast<unsigned>(c - '0');
    }
    if (type > 0xFFFFFFFFull) return false;
    value.type = static_cast<DWORD>(type);
    data.remove_prefix(close + 2);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        if (i + 2 > data.size()) return false;
        int hi = HexDigit(data[i]), lo = HexDigit(data[i + 1]);
        if (hi < 0 || lo < 0) return false;
        if (i + 2 < data.size() && data[i + 2] != ',') return false;
        if (i + 2 == data.size() - 1) return false;  // a trailing comma
        value.data += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

void SerializeKey(const Key& key, const std::string& path, std::string& out) {
    for (const auto& [name, child] : key.subkeys) {
        std::string childPath = path.empty() ? EscapeName(name) : path + '\\' + EscapeName(name);
        out += '[';
        out += childPath;
        out += "]\n";
        for (const auto& [valueName, value] : child->values) {
            out += FormatValue(valueName, value);
            out += '\n';
        }
        SerializeKey(*child, childPath, out);
    }
}

}  // namespace

bool NameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(Fold(x)) < static_cast<unsigned char>(Fold(y));
    });
}

bool NamesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Fold(x) == Fold(y); });
}

bool SplitPath(const char* text, Path& path) {
    path.clear();
    if (text == nullptr || *text == '\0') return true;
    std::string_view rest(text);
    if (rest.ends_with('\\')) rest.remove_suffix(1);
    while (true) {
        std::size_t cut = rest.find('\\');
        std::string_view name = rest.substr(0, cut);
        if (name.empty() || name.size() > kMaxName) return false;
        path.emplace_back(name);
        if (cut == std::string_view::npos) return true;
        rest.remove_prefix(cut + 1);
    }
}

Key* Find(Key& root, const Path& path) {
    Key* key = &root;
    for (const auto& name : path) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

const Key* Find(const Key& root, const Path& path) {
    return Find(const_cast<Key&>(root), path);
}

Key* Create(Key& root, const Path& path, bool& created) {
    created = false;
    Key* key = &root;
    for (const auto& name : path) {
        auto it = key->subkeys.find(name);
        if (it == key->subkeys.end()) {
            it = key->subkeys.emplace(name, std::make_unique<Key>()).first;
            created = true;
        } else {
            created = false;
        }
        key = it->second.get();
    }
    return key;
}

bool Remove(Key& root, const Path& path) {
    if (path.empty()) return false;
    Path parentPath(path.begin(), path.end() - 1);
    Key* parent = Find(root, parentPath);
    if (parent == nullptr) return false;
    return parent->subkeys.erase(path.back()) > 0;
}

std::string Serialize(const Key& root) {
    std::string out(kHeader);
    out += '\n';
    SerializeKey(root, "", out);
    out += kTrailer;
    out += '\n';
    return out;
}

bool Parse(std::string_view text, Key& root) {
    root.values.clear();
    root.subkeys.clear();
    Key* current = nullptr;
    bool header = false, trailer = false;
    while (!text.empty()) {
        std::size_t eol = text.find('\n');
        if (eol == std::string_view::npos) return false;  // every line ends, the last too
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (trailer) return false;  // nothing may follow the trailer
        if (!header) {
            if (line != kHeader) return false;
            header = true;
            continue;
        }
        if (line.empty() || line.starts_with('#')) continue;
        if (line == kTrailer) {
            trailer = true;
            continue;
        }
        if (line.starts_with('[')) {
            if (!line.ends_with(']') || line.size() < 3) return false;
            std::string_view inner = line.substr(1, line.size() - 2);
            Path path;
            std::string name;
            while (true) {
                std::size_t cut = inner.find('\\');
                if (!UnescapeName(inner.substr(0, cut), name)) return false;
                path.push_back(name);
                if (cut == std::string_view::npos) break;
                inner.remove_prefix(cut + 1);
            }
            bool created;
            current = Create(root, path, created);
            continue;
        }
        std::string name;
        Value value;
        if (current == nullptr || !ParseValue(line, name, value)) return false;
        current->values[name] = std::move(value);
    }
    return header && trailer;
}

}  // namespace talrec::registry
