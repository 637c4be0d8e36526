#include "text/cp932_scan.h"

size_t LastSeparatorIndex(std::string_view path) {
    size_t last = std::string_view::npos;
    for (size_t i = 0; i < path.size(); i += Cp932CharLength(path, i)) {
        if (IsPathSeparatorByte(path[i])) last = i;
    }
    return last;
}

bool EndsWithCharacter(std::string_view text, char c) {
    size_t lastStart = std::string_view::npos;
    size_t lastLength = 0;
    for (size_t i = 0; i < text.size(); i += lastLength) {
        lastStart = i;
        lastLength = Cp932CharLength(text, i);
    }
    return lastLength == 1 && text[lastStart] == c;
}

size_t ExtensionDotIndex(std::string_view path) {
    size_t componentStart = 0;
    size_t dot = std::string_view::npos;
    for (size_t i = 0; i < path.size(); i += Cp932CharLength(path, i)) {
        if (IsPathSeparatorByte(path[i])) {
            componentStart = i + 1;
            dot = std::string_view::npos;
        } else if (path[i] == '.' && i > componentStart) {
            dot = i;
        }
    }
    return dot;
}
