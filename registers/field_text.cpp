#include "registers/field_text.h"

#include <algorithm>

namespace tillvane {

namespace {
constexpr char kFieldEnd = ';';
constexpr char kBlank = ' ';
// Bytes below this are control bytes, a link's framing bytes and the line ends among them.
constexpr unsigned char kFirstTextByte = 0x20;
constexpr unsigned char kDelete = 0x7F;
}  // namespace

bool IsControlByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < kFirstTextByte || byte == kDelete;
}

bool EndsDeviceField(char c) {
    return c == kFieldEnd || IsControlByte(c);
}

bool HoldsDeviceFieldEnd(std::string_view text) {
    return std::any_of(text.begin(), text.end(), EndsDeviceField);
}

std::string WithoutFieldEnds(std::string_view text) {
    std::string field(text);
    std::replace_if(field.begin(), field.end(), EndsDeviceField, kBlank);
    return field;
}

std::string PrintTextPiece(std::string_view piece) {
    return WithoutFieldEnds(piece.substr(0, kMaxPrintTextPieceLength));
}

}  // namespace tillvane
