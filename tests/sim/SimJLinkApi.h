#pragma once
// The simulated probe library as a host sees it: loaded with dlopen, every function looked up by
// name with the vendor's C signature. A copy of the file loaded from elsewhere is a fresh library
// with its own board, which lets a test start from the environment again.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tavrel::sim::test {

struct SimJLinkApi {
    void* handle = nullptr;
    int (*EMU_GetList)(int, void*, int) = nullptr;
    void (*GetIdData)(void*) = nullptr;
    const char* (*Open)() = nullptr;
    void (*ConfigJTAG)(int, int) = nullptr;
    void (*TIF_GetAvailable)(uint32_t*) = nullptr;
    int (*TIF_Select)(int) = nullptr;
    int (*Connect)() = nullptr;
    char (*Halt)() = nullptr;
    char (*Go)() = nullptr;
    void (*SetSpeed)(uint32_t) = nullptr;
    int (*SetResetType)(int) = nullptr;
    int (*Reset)() = nullptr;
    int (*WriteMem)(uint32_t, uint32_t, const void*) = nullptr;
    int (*ReadMem)(uint32_t, uint32_t, void*) = nullptr;
    char (*WriteReg)(int, uint32_t) = nullptr;
    uint32_t (*ReadReg)(int) = nullptr;
    char (*IsConnected)() = nullptr;
    void (*Close)() = nullptr;
    int (*Configure)(const char*) = nullptr;
    const char* (*Violations)() = nullptr;
    const char* (*CallLog)() = nullptr;
    int (*ReadFlash)(uint32_t, uint8_t*, uint32_t) = nullptr;

    template <typename F>
    void Find(F& function, const char* name) {
        function = reinterpret_cast<F>(dlsym(handle, name));
        EXPECT_NE(function, nullptr) << name;
    }

    // True when the library and all 22 functions were found.
    bool Load(const std::string& path) {
        handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << dlerror();
        if (!handle) return false;
        Find(EMU_GetList, "JLINKARM_EMU_GetList");
        Find(GetIdData, "JLINKARM_GetIdData");
        Find(Open, "JLINKARM_Open");
        Find(ConfigJTAG, "JLINKARM_ConfigJTAG");
        Find(TIF_GetAvailable, "JLINKARM_TIF_GetAvailable");
        Find(TIF_Select, "JLINKARM_TIF_Select");
        Find(Connect, "JLINKARM_Connect");
        Find(Halt, "JLINKARM_Halt");
        Find(Go, "JLINKARM_Go");
        Find(SetSpeed, "JLINKARM_SetSpeed");
        Find(SetResetType, "JLINKARM_SetResetType");
        Find(Reset, "JLINKARM_Reset");
        Find(WriteMem, "JLINKARM_WriteMem");
        Find(ReadMem, "JLINKARM_ReadMem");
        Find(WriteReg, "JLINKARM_WriteReg");
        Find(ReadReg, "JLINKARM_ReadReg");
        Find(IsConnected, "JLINKARM_IsConnected");
        Find(Close, "JLINKARM_Close");
        Find(Configure, "TavrelSim_Configure");
        Find(Violations, "TavrelSim_Violations");
        Find(CallLog, "TavrelSim_CallLog");
        Find(ReadFlash, "TavrelSim_ReadFlash");
        return ReadFlash != nullptr && Close != nullptr && Open != nullptr;
    }

    // Probe list, open, interface, attach: the usual way in; the interface chosen (0 JTAG, 1 SWD).
    bool Attach(int interface = 0) {
        uint8_t list[50 * 264];
        uint8_t id[1024];
        Close();
        if (EMU_GetList(1, list, 50) < 1) return false;
        GetIdData(id);
        if (Open() != nullptr) return false;
        return TIF_Select(interface) == 0 && Connect() == 0;
    }
};

// The library as built.
inline SimJLinkApi& BuiltLibrary() {
    static SimJLinkApi api;
    if (!api.handle) api.Load(TAVREL_SIM_JLINK_PATH);
    return api;
}

// A fresh copy under folder, with its own board (and its own reading of the environment).
inline bool LoadFreshCopy(SimJLinkApi& api, const std::filesystem::path& folder) {
    const auto copy = folder / "libtavrel_sim_jlink_copy.so";
    std::filesystem::copy_file(TAVREL_SIM_JLINK_PATH, copy, std::filesystem::copy_options::overwrite_existing);
    return api.Load(copy.string());
}

}  // namespace tavrel::sim::test
