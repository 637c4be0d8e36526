#pragma once
// The pieces a file-name format is made of: the five tokens the name engine
// knows, and the literal characters the dialog's format buttons add.  The
// engine, the buttons and the default format all take their texts from here.
#include <span>

#include "text/byte_string.h"

enum class FormatPiece { Title, Extension, Date, Random, Serial, Underbar, Hyphen, Space };

// What a piece adds to a format: "[ファイルタイトル]", ".[拡張子]" (the
// extension token with the dot before it), "_", "-", " " ...
const ByteString& FormatPieceText(FormatPiece piece);

// A token as the compiler knows it: the text between its brackets and the
// code that stands for the whole bracketed token (its letter, then the width
// in bytes of the bracketed token as two digits, such as "T18").
struct FormatToken {
    ByteString name;
    char code[3];
};

// The five tokens, in the order the compiler tries them.
std::span<const FormatToken> FormatTokens();

// The format of a new installation: "[ファイルタイトル]_[現在の日付].[拡張子]".
const ByteString& DefaultFileNameFormat();
