#pragma once
// The flash loader on the serial line: its ready packet, and the loader's packets carried as a
// byte stream. The loader's commands (LoaderCommands.h) run over it as over the mailbox.
#include <cstdint>
#include <span>
#include <vector>

#include "links/LoaderCommands.h"
#include "links/UartLine.h"
#include "model/FamilyProfile.h"

namespace tavrel {

class UartLoaderChannel final : public LoaderChannel {
public:
    UartLoaderChannel(UartLine& line, const FamilyProfile& family);

    // True when the loader's ready packet arrived intact.
    [[nodiscard]] bool WaitUartLoaderReady();
    // packet: a whole loader packet (code, length L, the L bytes of body and CRC).
    [[nodiscard]] bool UartLoaderTransaction(std::span<const uint8_t> packet);
    [[nodiscard]] bool UartLoaderFinish();

    // LoaderChannel: a packet with its reply (UartLoaderTransaction), a packet without one, and
    // the data of the last data reply.
    [[nodiscard]] bool Transaction(std::span<const uint8_t> packet) override { return UartLoaderTransaction(packet); }
    [[nodiscard]] bool Post(std::span<const uint8_t> packet) override;
    std::span<const uint8_t> ReplyData() const override { return replyData_; }

private:
    UartLine& line_;
    const FamilyProfile& family_;
    std::vector<uint8_t> replyData_;
};

}  // namespace tavrel
