#include "recorder/tap/settings.h"

#include <cctype>

namespace tap {

namespace {

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
}

bool IsAbsolute(const std::string& path) {
    return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
           (path.size() > 1 && path[1] == ':');
}

std::string FromFolder(const std::string& folder, const std::string& path) {
    return path.empty() || IsAbsolute(path) ? path : folder + path;
}

// A number of the key's range, or the nearer limit; false when the value is
// no number at all. What was held to a limit goes into *problem.
bool Number(const std::string& value, const Limit& limit, uint64_t* number, std::string* problem) {
    if (value.empty() || value.size() > 18) return false;
    uint64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return false;
        n = 10 * n + static_cast<uint64_t>(c - '0');
    }
    *number = n < limit.least ? limit.least : n > limit.most ? limit.most : n;
    if (*number != n)
        *problem = std::string(limit.key) + " = " + value + " is " +
                   (n < limit.least ? "below the least, " : "above the most, ") +
                   std::to_string(*number) + ", which is used";
    return true;
}

}  // namespace

Settings ReadSettings(const std::string& text, const std::string& folder, std::string* problems) {
    Settings settings;
    size_t start = 0;
    int line = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string content = text.substr(start, end - start);
        start = end + 1;
        ++line;
        const size_t comment = content.find_first_of(";#");
        if (comment != std::string::npos) content.erase(comment);
        content = Trimmed(content);
        if (content.empty()) continue;
        const size_t equals = content.find('=');
        const std::string key = Trimmed(content.substr(0, equals));
        const std::string value =
            equals == std::string::npos ? "" : Trimmed(content.substr(equals + 1));
        std::string problem;
        uint64_t number = 0;
        bool taken = true;
        if (key == "library") {
            settings.library = FromFolder(folder, value);
        } else if (key == "trace") {
            settings.trace = value == "off" ? value : FromFolder(folder, value);
        } else if (key == kFileLimitMb.key) {
            taken = Number(value, kFileLimitMb, &settings.fileLimitMb, &problem);
        } else if (key == kFiles.key) {
            taken = Number(value, kFiles, &number, &problem);
            if (taken) settings.files = static_cast<int>(number);
        } else if (key == kRingKb.key) {
            taken = Number(value, kRingKb, &settings.ringKb, &problem);
        } else {
            taken = false;
        }
        if (!taken) problem = "'" + content + "' ignored";
        if (!problem.empty()) *problems += "line " + std::to_string(line) + ": " + problem + "; ";
    }
    return settings;
}

}  // namespace tap
