#include "model/BootRomProtocol.h"

#include "model/Checksum.h"
#include "model/HexText.h"
#include "model/LittleEndian.h"

namespace tavrel {

void boot_image::AppendBlockHeader(std::vector<uint8_t>& out, uint32_t type, uint32_t address, uint32_t lengthField) {
    const size_t start = out.size();
    AppendLe32(out, type);
    AppendLe32(out, address);
    AppendLe32(out, lengthField);
    AppendLe32(out, ComputeCrc(0, std::span<const uint8_t>(out.data() + start, 12)));
}

std::vector<uint8_t> PasswordBytes(std::string_view hexText) {
    std::vector<uint8_t> bytes(hexText.size() / 2);
    if (bytes.empty() || hexText.size() % 2 != 0 || HexTextToBytes(hexText, bytes.data(), bytes.size()) != 0) return {};
    return bytes;
}

std::optional<uint32_t> FramedPasswordWord(std::string_view hexText) {
    const std::vector<uint8_t> bytes = PasswordBytes(hexText);
    if (bytes.size() != 4) return std::nullopt;
    return GetLe32(bytes.data());
}

}  // namespace tavrel
