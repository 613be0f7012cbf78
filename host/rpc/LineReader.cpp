#include "host/rpc/LineReader.h"

namespace talrec::host {

LineStatus ReadBoundedLine(std::istream& in, std::string& line, std::size_t limit) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    bool tooLong = false;
    bool readAny = false;
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) {
            in.setstate(std::ios::eofbit);
            if (!readAny) return LineStatus::End;
            break;
        }
        readAny = true;
        if (c == '\n') break;
        if (tooLong) continue;
        if (line.size() == limit) {
            tooLong = true;
            line.clear();
            line.shrink_to_fit();
            continue;
        }
        line.push_back(static_cast<char>(c));
    }
    if (tooLong) return LineStatus::TooLong;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return LineStatus::Line;
}

}  // namespace talrec::host
