#pragma once
// Texts of a till (item names, printed text, VAT group names and codes) inside a driver's
// command data: the text-file driver writes fields ended by ";" on lines ended by LF, the
// serial driver frames its data with control bytes. A ";" or a control byte inside such a
// text would end a field, a line or a frame early and shift what follows it.

#include <string>
#include <string_view>

namespace tillvane {

// True for the control bytes: 0x00-0x1F and 0x7F.
bool IsControlByte(char c);

// True for ";" and for the control bytes.
bool EndsDeviceField(char c);

// True when `text` holds a byte for which EndsDeviceField is true.
bool HoldsDeviceFieldEnd(std::string_view text);

// `text` with every byte that would end a field, a line or a frame made a blank.
std::string WithoutFieldEnds(std::string_view text);

// Longest piece of a printed text line, on every driver.
inline constexpr std::size_t kMaxPrintTextPieceLength = 15;

// One piece of a printed text line: at most kMaxPrintTextPieceLength characters, none of
// which ends a field, a line or a frame early.
std::string PrintTextPiece(std::string_view piece);

}  // namespace tillvane
