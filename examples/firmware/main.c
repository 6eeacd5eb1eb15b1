/* The example application: it checks a message with CRC-32 and counts its runs, then sleeps.
 *
 * checksum_block() lives in the section ".xip_text": the KR2A600 linker script keeps it in the
 * execute-in-place window of the external flash, the others link it with the rest of the code. */
#include <stdint.h>

static const char kMessage[] = "Tavrel example firmware";

/* Set by the application: a debugger reads them to see that it ran. */
volatile uint32_t g_message_crc;
volatile uint32_t g_runs = 1;

__attribute__((section(".xip_text"), noipa)) uint32_t checksum_block(const uint8_t* data, uint32_t length) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

int main(void) {
    g_message_crc = checksum_block((const uint8_t*)kMessage, sizeof kMessage - 1);
    g_runs = g_runs + 1;
    return 0;
}
