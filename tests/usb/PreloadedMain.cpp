// The mock lives in umockdev's preloaded library: a run started without it (by CTest, or by
// hand) starts itself again with the library preloaded, then runs the tests as usual.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        std::string value = TAVREL_UMOCKDEV_PRELOAD;
        if (preload != nullptr && *preload != '\0') value += std::string(":") + preload;
        setenv("LD_PRELOAD", value.c_str(), 1);
        execv("/proc/self/exe", argv);
        return 127;  // the program could not start itself again
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
