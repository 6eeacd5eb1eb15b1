#include "sim/SerialLoader.h"

#include "model/FamilyProfile.h"
#include "model/LittleEndian.h"
#include "model/LoaderProtocol.h"
#include "sim/LoaderCore.h"
#include "sim/Violations.h"

namespace tavrel::sim {

namespace lc = loader_code;

SerialLoader::SerialLoader(std::string_view family, LoaderCore& core, Violations& violations, bool silent)
    : core_(core), violations_(violations), silent_(silent),
      announces_(!FindFamilyProfile(family)->SendsHandshakeByte()) {}

bool SerialLoader::finished() const { return core_.finished(); }

std::vector<uint8_t> SerialLoader::Start() {
    if (silent_ || !announces_) return {};
    return core_.ReadyPacket();
}

std::vector<uint8_t> SerialLoader::Receive(std::span<const uint8_t> bytes) {
    std::vector<uint8_t> out;
    if (silent_) return out;
    for (uint8_t byte : bytes) {
        if (core_.finished()) {
            if (!reportedAfterFinish_)
                violations_.Record("serial: bytes sent after the finish command", "nothing more for this loader run");
            reportedAfterFinish_ = true;
            return out;
        }
        if (discarding_) continue;
        if (buffer_.empty()) {
            if (byte == lc::kAskReady) {
                if (commands_ == 0) {
                    auto ready = core_.ReadyPacket();
                    out.insert(out.end(), ready.begin(), ready.end());
                } else {
                    violations_.Record("serial: 0x55 after the loader's first command", "a command packet");
                }
                continue;
            }
            if (!LoaderCore::KnownCommand(byte)) {
                violations_.Record("serial: packet starting with unknown code " + Hex8(byte), "a loader command code");
                auto status = core_.StatusReply(lc::kStatusBadPacket);
                out.insert(out.end(), status.begin(), status.end());
                discarding_ = true;
                continue;
            }
        }
        buffer_.push_back(byte);
        if (buffer_.size() < 3) continue;
        const uint32_t length = GetLe16(&buffer_[1]);
        if (buffer_.size() == 3 && !LoaderCore::LengthFits(buffer_[0], length)) {
            violations_.Record("serial: command " + Hex8(buffer_[0]) + " with L = " + std::to_string(length),
                               "the command's length");
            auto status = core_.StatusReply(lc::kStatusBadPacket);
            out.insert(out.end(), status.begin(), status.end());
            buffer_.clear();
            discarding_ = true;
            continue;
        }
        if (buffer_.size() == length + 3u) {
            ++commands_;
            auto reply = core_.Serve(buffer_);
            buffer_.clear();
            if (reply) out.insert(out.end(), reply->begin(), reply->end());
        }
    }
    return out;
}

void SerialLoader::LineIdle() {
    if (!buffer_.empty()) {
        const uint32_t length = buffer_.size() >= 3 ? GetLe16(&buffer_[1]) + 3u : 0u;
        violations_.Record("serial: packet " + Hex8(buffer_[0]) + " broken off after " + std::to_string(buffer_.size()) +
                               " bytes",
                           length ? "all " + std::to_string(length) + " bytes of the packet" : "a whole packet");
    }
    buffer_.clear();
    discarding_ = false;
}

}  // namespace tavrel::sim
