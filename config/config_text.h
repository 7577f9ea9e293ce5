#pragma once
// The bytes of a configuration file as the text the loader splits: Notepad's encodings are
// recognised by their byte-order marks (UTF-8's is dropped, UTF-16's text is converted to
// the program's narrow characters); a file without a mark is taken as it is.

#include <string>

#include "platform/error.h"

namespace tillvane {

// Turns `bytes` into text in place. Fails, with the bytes left alone, when they cannot be
// text: UTF-32, broken UTF-16, or NUL bytes (UTF-16 saved without its mark, or no text at
// all). The error says which, in words an administrator can act on.
platform::Error DecodeConfigText(std::string& bytes);

}  // namespace tillvane
