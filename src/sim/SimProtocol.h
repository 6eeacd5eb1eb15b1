#pragma once
// The request/reply protocol between a board running in a `tavrel-cli sim` process and the
// doors that reach it from other processes, over a Unix stream socket.
//
// Request: 32-bit length N (little-endian, the bytes that follow), kind (1 byte), payload.
// Reply:   32-bit length N, status (1 byte: 0 ok, 1 unknown kind, 2 bad request), payload.
// One request at a time per connection; the reply comes before the next request is read.
//
// Each door has its own kind and encodes its own payloads (ByteWriter / ByteReader help):
//   kJLink   (1): one JLINKARM_ call (JLinkCall / JLinkResult below).
//   kControl (2): the board controls for tests and tools (ControlOp below).
//   kDfu     (3): reserved for the DFU device's control transfers.
//   kSerial  (4): reserved for the serial door.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::sim {

namespace sim_message {
inline constexpr uint8_t kJLink = 1;
inline constexpr uint8_t kControl = 2;
inline constexpr uint8_t kDfu = 3;
inline constexpr uint8_t kSerial = 4;

inline constexpr uint8_t kStatusOk = 0;
inline constexpr uint8_t kStatusUnknownKind = 1;
inline constexpr uint8_t kStatusBadRequest = 2;

inline constexpr uint32_t kMaxMessage = 64u << 20;  // a whole 16 MiB flash fits
}  // namespace sim_message

// A whole request or reply: the length word, then first (the kind or the status), then the payload.
std::vector<uint8_t> MessageFrame(uint8_t first, std::span<const uint8_t> payload);

// Little-endian field writer and reader for payloads.
class ByteWriter {
public:
    ByteWriter& U8(uint8_t value);
    ByteWriter& U32(uint32_t value);
    ByteWriter& Bytes(std::span<const uint8_t> bytes);  // 32-bit count, then the bytes
    ByteWriter& Text(std::string_view text);             // as Bytes
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    // Each returns nothing once the payload runs short; ok() tells whether all reads fitted.
    std::optional<uint8_t> U8();
    std::optional<uint32_t> U32();
    std::optional<std::vector<uint8_t>> Bytes();
    std::optional<std::string> Text();
    bool AtEnd() const { return position_ == bytes_.size(); }

private:
    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

enum class JLinkFunction : uint8_t {
    kEmuGetList = 1, kGetIdData, kOpen, kConfigJtag, kTifGetAvailable, kTifSelect, kConnect, kHalt, kGo,
    kSetSpeed, kSetResetType, kReset, kWriteMem, kReadMem, kWriteReg, kReadReg, kIsConnected, kClose,
};

// One call: two whole-number arguments (address and count, index and value, ...) and the data
// written. ReadMem passes the count in b.
struct JLinkCall {
    JLinkFunction function = JLinkFunction::kEmuGetList;
    uint32_t a = 0;
    uint32_t b = 0;
    std::vector<uint8_t> data;
};

// The function's result and the bytes it hands back (ReadMem data, the Open error text, the
// GetIdData words).
struct JLinkResult {
    int32_t value = 0;
    std::vector<uint8_t> data;
};

std::vector<uint8_t> EncodeJLinkCall(const JLinkCall& call);
std::optional<JLinkCall> DecodeJLinkCall(std::span<const uint8_t> payload);
std::vector<uint8_t> EncodeJLinkResult(const JLinkResult& result);
std::optional<JLinkResult> DecodeJLinkResult(std::span<const uint8_t> payload);

// kControl payload: the operation byte, then its fields.
enum class ControlOp : uint8_t {
    kViolations = 1,  // reply: Text
    kCallLog = 2,     // reply: Text
    kReadFlash = 3,   // U32 offset, U32 count; reply: U8 0 ok / 1 outside the flash, Bytes
    kConfig = 4,      // reply: Text (the board's config text)
    kCoreState = 5,   // reply: Text (what the core runs: Board::CoreState)
    kUsbReset = 6,    // a USB reset of the board's DFU device; reply: U8 0 done / 1 no DFU device
    kClaim = 7,       // claim the board for this program; reply: U8 0 claimed / 1 in use, Text who has it
};

}  // namespace tavrel::sim
