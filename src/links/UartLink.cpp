// The port primitives and the loader phase of the serial route.
#include "links/UartLink.h"

#include "links/LoaderPacket.h"
#include "model/Checksum.h"

namespace tavrel {

SerialPort& ProcessComPort() {
    static SerialPort port;
    return port;
}

void CloseComPort() { ProcessComPort().Close(); }

bool& RomLocked() {
    static bool locked = false;
    return locked;
}

UartLink::UartLink(std::string family, UserPrompt& prompt, OperationHost& host, Clock& clock, UartTimings timings)
    : family_(std::move(family)), prompt_(prompt), host_(host), clock_(clock), timings_(timings) {}

UartLink::~UartLink() {
    if (image_ != nullptr) std::fclose(image_);
}

void UartLink::Fail(const char* text) { prompt_.ShowMessage(text, MessageIcon::Error); }

bool UartLink::OpenComPort(const std::string& portName, uint32_t baudRate) {
    // Device names are used as given; the COM-name prefix rule belongs to another platform.
    SerialOpenResult result = ProcessComPort().Open(portName, baudRate);
    switch (result.failure) {
    case SerialOpenResult::Failure::None:
        return true;
    case SerialOpenResult::Failure::Open:
        prompt_.ShowMessage(result.systemText.empty() ? "The port cannot be opened." : result.systemText,
                            MessageIcon::Error);
        Fail("Open ComPort Failed");
        return false;
    case SerialOpenResult::Failure::NotReady:
        Fail("ComPort not ready!\n");
        return false;
    case SerialOpenResult::Failure::Settings:
        Fail("Set ComPort Failed!\n");
        return false;
    }
    return false;
}

size_t UartLink::ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    return ProcessComPort().ReadExact(buffer, count, timeoutMs, clock_);
}

size_t UartLink::ReadComAvailable(uint8_t* buffer, size_t maximum) {
    return ProcessComPort().ReadAvailable(buffer, maximum);
}

bool UartLink::WriteComBytes(const uint8_t* data, size_t count) {
    // The port's write bound: 10 ms per byte plus 50 ms.
    const uint64_t bound = 10ull * count + 50;
    return ProcessComPort().WriteAll(data, count, static_cast<uint32_t>(std::min<uint64_t>(bound, 0x7FFFFFFF)));
}

void UartLink::DiscardQueued() {
    uint8_t sink[256];
    while (ReadComAvailable(sink, sizeof sink) > 0) {
    }
}

bool UartLink::WaitUartLoaderReady(const std::string& family) {
    const bool asks = family == "KR2A600" || family == "KR2H70X";
    ProcessComPort().Drain();
    for (int round = 0; round < 20; ++round) {
        if (asks) {
            const uint8_t hello = loader_code::kAskReady;
            if (!WriteComBytes(&hello, 1)) {
                Fail("Uart communication failed!");
                return false;
            }
        }
        // Bytes before the ready code are line noise; from 0xB2 on the packet is collected.
        uint8_t packet[7];
        size_t collected = 0;
        uint8_t byte = 0;
        while (collected < sizeof packet && ReadComBytes(&byte, 1, timings_.readyByteMs) == 1) {
            if (collected == 0 && byte != loader_code::kReady) continue;
            packet[collected++] = byte;
        }
        if (collected == sizeof packet)
            return ComputeCrc(0, std::span<const uint8_t>(packet, 3)) == GetLe32(packet + 3);
        if (collected > 0) break;
    }
    Fail("Uart communication failed!");
    return false;
}

bool UartLink::UartLoaderTransaction(std::span<const uint8_t> packet) {
    replyData_.clear();
    int shortHeaders = 0;
    int failedAttempts = 0;
    for (;;) {
        ProcessComPort().Drain();
        if (!WriteComBytes(packet.data(), packet.size())) {
            Fail("Uart communication failed!");
            return false;
        }
        uint8_t header[3];
        if (ReadComBytes(header, 3, timings_.replyHeaderMs) != 3) {
            Fail("Uart communication failed!");
            return false;
        }
        const size_t length = GetLe16(header + 1);
        if (length <= 3) {
            // No room for a CRC: the loader did not take the packet; send it again.
            if (++shortHeaders >= 3) return false;
            continue;
        }
        std::vector<uint8_t> rest(length);
        bool attemptFailed = false;
        if (ReadComBytes(rest.data(), length, timings_.readMs) != length) {
            // Whatever part of the reply did arrive belongs to this failed exchange.
            size_t partial = ReadComAvailable(rest.data(), length);
            if (partial == 0) {
                Fail("Uart communication failed!");
                return false;
            }
            attemptFailed = true;
        } else if (!LoaderReplyCrcMatches(header, rest)) {
            attemptFailed = true;
        } else if (header[0] == loader_code::kData) {
            replyData_.assign(rest.begin(), rest.end() - 4);
            return true;
        } else if (header[0] != loader_code::kStatus || length < 5) {
            return false;
        } else {
            const uint8_t status = rest[0];
            if (status == loader_code::kStatusDone) return true;
            if (status != loader_code::kStatusBusy) return false;
            attemptFailed = true;  // busy: the whole exchange is repeated
        }
        if (attemptFailed && ++failedAttempts >= 3) return false;
    }
}

bool UartLink::Post(std::span<const uint8_t> packet) {
    if (!WriteComBytes(packet.data(), packet.size())) {
        Fail("Uart communication failed!");
        return false;
    }
    // Make sure the packet has left before the caller closes the port.
    ProcessComPort().Drain();
    return true;
}

bool UartLink::UartLoaderFinish() { return LoaderFinish(*this); }

}  // namespace tavrel
