#include "sim/SimProtocol.h"

#include "model/LittleEndian.h"

namespace tavrel::sim {

std::vector<uint8_t> MessageFrame(uint8_t first, std::span<const uint8_t> payload) {
    std::vector<uint8_t> frame;
    frame.reserve(payload.size() + 5);
    AppendLe32(frame, static_cast<uint32_t>(payload.size() + 1));
    frame.push_back(first);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

ByteWriter& ByteWriter::U8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::U32(uint32_t value) {
    AppendLe32(bytes_, value);
    return *this;
}

ByteWriter& ByteWriter::Bytes(std::span<const uint8_t> bytes) {
    U32(static_cast<uint32_t>(bytes.size()));
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

ByteWriter& ByteWriter::Text(std::string_view text) {
    return Bytes(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::optional<uint8_t> ByteReader::U8() {
    if (position_ + 1 > bytes_.size()) return std::nullopt;
    return bytes_[position_++];
}

std::optional<uint32_t> ByteReader::U32() {
    if (position_ + 4 > bytes_.size()) return std::nullopt;
    const uint32_t value = GetLe32(bytes_.data() + position_);
    position_ += 4;
    return value;
}

std::optional<std::vector<uint8_t>> ByteReader::Bytes() {
    auto count = U32();
    if (!count || *count > bytes_.size() - position_) return std::nullopt;
    std::vector<uint8_t> bytes(bytes_.begin() + position_, bytes_.begin() + position_ + *count);
    position_ += *count;
    return bytes;
}

std::optional<std::string> ByteReader::Text() {
    auto bytes = Bytes();
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

std::vector<uint8_t> EncodeJLinkCall(const JLinkCall& call) {
    return ByteWriter().U8(static_cast<uint8_t>(call.function)).U32(call.a).U32(call.b).Bytes(call.data).Take();
}

std::optional<JLinkCall> DecodeJLinkCall(std::span<const uint8_t> payload) {
    ByteReader reader(payload);
    auto function = reader.U8();
    auto a = reader.U32();
    auto b = reader.U32();
    auto data = reader.Bytes();
    if (!function || !a || !b || !data || !reader.AtEnd()) return std::nullopt;
    if (*function < static_cast<uint8_t>(JLinkFunction::kEmuGetList) ||
        *function > static_cast<uint8_t>(JLinkFunction::kClose))
        return std::nullopt;
    return JLinkCall{static_cast<JLinkFunction>(*function), *a, *b, std::move(*data)};
}

std::vector<uint8_t> EncodeJLinkResult(const JLinkResult& result) {
    return ByteWriter().U32(static_cast<uint32_t>(result.value)).Bytes(result.data).Take();
}

std::optional<JLinkResult> DecodeJLinkResult(std::span<const uint8_t> payload) {
    ByteReader reader(payload);
    auto value = reader.U32();
    auto data = reader.Bytes();
    if (!value || !data || !reader.AtEnd()) return std::nullopt;
    return JLinkResult{static_cast<int32_t>(*value), std::move(*data)};
}

}  // namespace tavrel::sim
