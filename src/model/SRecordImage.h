#pragma once
// Motorola S-record files (S19, S28, S37).
#include <string>
#include <string_view>

#include "model/ImageSource.h"
#include "platform/UserPrompt.h"

namespace tavrel {

// Reads S1/S2/S3 data records into blocks in file order; S0 headers are skipped, S5/S6 counts
// are checked against the data records before them, and the S7/S8/S9 record that ends the file
// gives the entry address. Every record's length and checksum are checked. A fault is refused
// with a message naming path and line (false; failedLine is that line, else 0).
bool ReadSRecordImage(std::string_view text, const std::string& path, LoadableImage& image, UserPrompt& prompt,
                      int& failedLine);

}  // namespace tavrel
