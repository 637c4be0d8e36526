#include "naming/format_pieces.h"

#include <array>
#include <vector>

namespace {

constexpr char kNoToken = 0;

// Each piece once: the literal bytes it starts with, then its token (a name
// and the letter of its code), if it has one.
struct PieceRow {
    FormatPiece piece;
    const char8_t* literal;
    const char8_t* tokenName;
    char letter;
};

constexpr PieceRow kPieces[] = {
    {FormatPiece::Title, u8"", u8"ファイルタイトル", 'T'},
    {FormatPiece::Extension, u8".", u8"拡張子", 'E'},
    {FormatPiece::Date, u8"", u8"現在の日付", 'N'},
    {FormatPiece::Random, u8"", u8"乱数", 'R'},
    {FormatPiece::Serial, u8"", u8"連番", 'L'},
    {FormatPiece::Underbar, u8"_", nullptr, kNoToken},
    {FormatPiece::Hyphen, u8"-", nullptr, kNoToken},
    {FormatPiece::Space, u8" ", nullptr, kNoToken},
};
constexpr size_t kPieceCount = std::size(kPieces);

ByteString Bracketed(const ByteString& name) { return "[" + name + "]"; }

std::array<ByteString, kPieceCount> MakePieceTexts() {
    std::array<ByteString, kPieceCount> texts;
    for (const PieceRow& row : kPieces) {
        ByteString& text = texts[static_cast<size_t>(row.piece)];
        text = Cp932(row.literal);
        if (row.tokenName != nullptr) text += Bracketed(Cp932(row.tokenName));
    }
    return texts;
}

std::vector<FormatToken> MakeTokens() {
    std::vector<FormatToken> tokens;
    for (const PieceRow& row : kPieces) {
        if (row.tokenName == nullptr) continue;
        FormatToken token{Cp932(row.tokenName), {}};
        const size_t width = Bracketed(token.name).size();  // at most 99 bytes
        token.code[0] = row.letter;
        token.code[1] = static_cast<char>('0' + width / 10 % 10);
        token.code[2] = static_cast<char>('0' + width % 10);
        tokens.push_back(std::move(token));
    }
    return tokens;
}

}  // namespace

const ByteString& FormatPieceText(FormatPiece piece) {
    static const std::array<ByteString, kPieceCount> texts = MakePieceTexts();
    return texts.at(static_cast<size_t>(piece));
}

std::span<const FormatToken> FormatTokens() {
    static const std::vector<FormatToken> tokens = MakeTokens();
    return tokens;
}

const ByteString& DefaultFileNameFormat() {
    static const ByteString format = FormatPieceText(FormatPiece::Title) + FormatPieceText(FormatPiece::Underbar) +
                                     FormatPieceText(FormatPiece::Date) + FormatPieceText(FormatPiece::Extension);
    return format;
}
