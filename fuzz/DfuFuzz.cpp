// The KR2H70X boot ROM's DFU device answers with the fuzz input: finding its DFU interface in the
// descriptors, the detach, the device information and its unlock, then a read, a write and the
// erase with its status polls. With the endless bit the device never runs out of answers, and the
// run must end within the bound of its status waits.
#include <array>

#include "FuzzSupport.h"
#include "ScriptedUsb.h"
#include "links/DfuTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel;
    fuzz::InputReader input(std::span(data, size));
    const uint8_t choice = input.Byte();
    const std::span<const uint8_t> descriptor = input.Take(choice & 0x0F);
    const DfuDeviceRow device = *FindDfuDevice("KR2H70X");
    ManualClock clock;
    const bool endless = (choice & 0x80) != 0;
    // Every step that waits for a busy device (the open's detach, information and unlock
    // rounds, the read, the write and the range erase) within the busy limit, and the erase of
    // the whole flash within its own.
    const uint64_t eraseAllLimitMs = uint64_t{kDfuEraseAllPolls - 1} * kDfuErasePollIntervalMs;
    const uint64_t boundMs = 20 * uint64_t{kDfuBusyLimitMs} + eraseAllLimitMs + 1000;
    fuzz::ScriptedUsb usb(device.vendorId, device.productId, descriptor, input, endless ? &clock : nullptr,
                          endless ? boundMs : 0);
    DfuLink link(usb, clock);
    fuzz::SilentPrompt prompt(SecurityAnswer{true, 1, std::string(64, 'A')}, (choice >> 4) & 3);
    fuzz::SilentHost host;
    DfuTargetState state;
    if (OpenDfuTarget(link, device, prompt, &host, 0, &state) == 0 || (choice & 0x40)) {
        std::array<uint8_t, 64> buffer{};
        link.DfuRead(buffer.data(), buffer.size(), 0x1000);
        link.DfuWrite(buffer.data(), buffer.size(), 0x1000);
        link.DfuEraseRange(1, 2);
        link.DfuEraseAll();
    }
    link.DfuClose();
    return 0;
}
