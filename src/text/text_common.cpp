// The parts of the text layer that are the same on every platform.
#include <stdexcept>

#include "text/byte_string.h"
#include "text/encoding.h"

ByteString Cp932(std::u8string_view utf8) {
    ByteString text;
    if (!Utf8ToCp932(std::string(utf8.begin(), utf8.end()), text))
        throw std::logic_error("text without a code page 932 form");
    return text;
}
