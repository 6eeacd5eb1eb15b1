#include "links/UartLine.h"

#include <algorithm>

namespace tavrel {

SerialPort& ProcessComPort() {
    static SerialPort port;
    return port;
}

void CloseComPort() { ProcessComPort().Close(); }

UartTimings ShortenedWaits(UartTimings timings, uint32_t percent) {
    if (percent >= 100) return timings;
    for (uint32_t* bound : {&timings.readMs, &timings.syncWindowMs, &timings.syncByteMs, &timings.replyHeaderMs,
                            &timings.readyByteMs, &timings.unlockLimitMs}) {
        *bound = std::max<uint32_t>(1, static_cast<uint32_t>(static_cast<uint64_t>(*bound) * percent / 100));
    }
    return timings;
}

UartLine::UartLine(UserPrompt& prompt, Clock& clock, UartTimings timings)
    : prompt_(prompt), clock_(clock), timings_(timings) {}

void UartLine::Fail(const std::string& text) { prompt_.ShowMessage(text, MessageIcon::Error); }

bool UartLine::OpenComPort(const std::string& portName, uint32_t baudRate) {
    // Device names are used as given; the COM-name prefix rule belongs to another platform.
    portName_ = portName;
    SerialOpenResult result = ProcessComPort().Open(portName, baudRate);
    switch (result.failure) {
    case SerialOpenResult::Failure::None:
        return true;
    case SerialOpenResult::Failure::Open:
        Fail(result.systemText.empty() ? "The port cannot be opened." : result.systemText);
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

size_t UartLine::ReadComBytes(uint8_t* buffer, size_t count, uint32_t timeoutMs) {
    return ProcessComPort().ReadExact(buffer, count, timeoutMs, clock_);
}

size_t UartLine::ReadComAvailable(uint8_t* buffer, size_t maximum) {
    return ProcessComPort().ReadAvailable(buffer, maximum);
}

bool UartLine::WriteComBytes(const uint8_t* data, size_t count) {
    // The port's write bound: 10 ms per byte plus 50 ms.
    const uint64_t bound = 10ull * count + 50;
    return ProcessComPort().WriteAll(data, count, static_cast<uint32_t>(std::min<uint64_t>(bound, 0x7FFFFFFF)));
}

void UartLine::Flush() { ProcessComPort().Drain(); }

bool UartLine::DiscardQueued() {
    const uint64_t start = clock_.NowMs();
    uint8_t sink[256];
    while (ReadComAvailable(sink, sizeof sink) > 0) {
        if (clock_.NowMs() - start >= timings_.readMs) return false;
    }
    return true;
}

}  // namespace tavrel
