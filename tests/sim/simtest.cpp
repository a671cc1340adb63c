#include "simtest.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace simtest {

std::string SimDir() {
    const char* dir = std::getenv("VT_SIM_DIR");
    std::string path = dir ? dir : "";
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path;
}

std::string DrivePath(const std::string& name) {
    return SimDir() + name + ".drive";
}

void WriteText(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

void WriteDrive(const std::string& name, const std::string& text) {
    WriteText(DrivePath(name), text + "\n");
    ClearDriveLog(name);
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return lines;
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        pos = end + 1;
    }
    return lines;
}

std::string ReadDriveKey(const std::string& name, const std::string& key) {
    std::string value;
    for (const std::string& line : ReadLines(DrivePath(name)))
        if (line.rfind(key + "=", 0) == 0) value = line.substr(key.size() + 1);
    return value;
}

std::vector<std::string> DriveLog(const std::string& name) {
    return ReadLines(DrivePath(name) + ".log");
}

void ClearDriveLog(const std::string& name) {
    WriteText(DrivePath(name) + ".log", "");
}

std::string Field(const std::string& line, const std::string& key) {
    std::string needle = key + "=";
    std::size_t pos = 0;
    while ((pos = line.find(needle, pos)) != std::string::npos) {
        if (pos == 0 || line[pos - 1] == ' ') {
            std::size_t start = pos + needle.size();
            std::size_t end = line.find(' ', start);
            return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        ++pos;
    }
    return "";
}

std::string Request(const std::string& line) {
    std::size_t pos = line.find(" answer=");
    return pos == std::string::npos ? line : line.substr(0, pos);
}

} // namespace simtest
