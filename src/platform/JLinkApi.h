#pragma once
// The SEGGER J-Link library, loaded at run time. Only the eighteen JLINKARM_ functions the
// programmer uses are resolved; each keeps the vendor's C signature. The vendor's structs are
// never looked into, so they are passed as byte buffers of at least the vendor's size.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DynamicLibrary.h"

namespace tavrel {

// One entry of the probe list (the vendor's JLINKARM_EMU_CONNECT_INFO record).
struct JLinkProbeInfo {
    uint32_t serialNumber = 0;
    std::string product;
};

class JLinkApi {
public:
    // Room for the probe list (50 entries of the vendor's 264-byte record) and the id data.
    static constexpr int kMaxProbes = 50;
    static constexpr size_t kProbeListBytes = 50 * 264;
    static constexpr size_t kIdDataBytes = 1024;

    using EMU_GetList_t = int (*)(int hostIfs, void* connectInfo, int maxInfos);
    using GetIdData_t = void (*)(void* idData);
    using Open_t = const char* (*)();
    using ConfigJTAG_t = void (*)(int irPre, int drPre);
    using TIF_GetAvailable_t = void (*)(uint32_t* mask);
    using TIF_Select_t = int (*)(int interfaceType);
    using Connect_t = int (*)();
    using Halt_t = char (*)();
    using Go_t = char (*)();
    using SetSpeed_t = void (*)(uint32_t speedKhz);
    using SetResetType_t = int (*)(int resetType);
    using Reset_t = int (*)();
    using WriteMem_t = int (*)(uint32_t address, uint32_t count, const void* data);
    using ReadMem_t = int (*)(uint32_t address, uint32_t count, void* data);
    using WriteReg_t = char (*)(int regIndex, uint32_t value);
    using ReadReg_t = uint32_t (*)(int regIndex);
    using IsConnected_t = char (*)();
    using Close_t = void (*)();
    using EMU_SelectByUSBSN_t = int (*)(uint32_t serialNumber);

    EMU_GetList_t EMU_GetList = nullptr;
    GetIdData_t GetIdData = nullptr;
    Open_t Open = nullptr;
    ConfigJTAG_t ConfigJTAG = nullptr;
    TIF_GetAvailable_t TIF_GetAvailable = nullptr;
    TIF_Select_t TIF_Select = nullptr;
    Connect_t Connect = nullptr;
    Halt_t Halt = nullptr;
    Go_t Go = nullptr;
    SetSpeed_t SetSpeed = nullptr;
    SetResetType_t SetResetType = nullptr;
    Reset_t Reset = nullptr;
    WriteMem_t WriteMem = nullptr;
    ReadMem_t ReadMem = nullptr;
    WriteReg_t WriteReg = nullptr;
    ReadReg_t ReadReg = nullptr;
    IsConnected_t IsConnected = nullptr;
    Close_t Close = nullptr;
    // Beside the eighteen, resolved when the library has it (every vendor library does): chooses
    // the probe the next Open opens. Null in a library without it.
    EMU_SelectByUSBSN_t EMU_SelectByUSBSN = nullptr;

    JLinkApi() = default;
    JLinkApi(const JLinkApi&) = delete;
    JLinkApi& operator=(const JLinkApi&) = delete;

    // The library file to load instead of searching (empty: search the usual names and folders);
    // origin names where the choice came from, for the message when it cannot be loaded (e.g.
    // "TAVREL_JLINK_LIBRARY"). A different choice unloads a library loaded before.
    void UseLibraryFile(std::string file, std::string origin);

    // Loads the library chosen by UseLibraryFile, else finds it; once loaded it stays loaded,
    // after a failure the next call looks again.
    bool Load();
    bool loaded() const { return loaded_; }
    // Why loading failed, naming what was looked for and where.
    const std::string& error() const { return error_; }
    // The file that was loaded.
    const std::string& path() const { return library_.path(); }
    // A symbol of the loaded library beyond the eighteen (tools and tests use this).
    void* Symbol(const char* name) const { return library_.Symbol(name); }

    // The probe to open, by serial number (0: the one the library opens by itself); kept for
    // every later Open of the process, as the library file is.
    void UseProbe(uint32_t serialNumber) { probeSerial_ = serialNumber; }
    uint32_t probeSerial() const { return probeSerial_; }

    // The probes of a list JLINKARM_EMU_GetList filled: `count` entries (at most kMaxProbes).
    static std::vector<JLinkProbeInfo> ProbeList(const std::vector<uint8_t>& list, int count);
    static constexpr size_t kProbeRecordBytes = 264;
    static constexpr size_t kProductOffset = 50;  // acProduct[32], after the serial, addresses and times
    static constexpr size_t kProductBytes = 32;

    // The one J-Link library of the process: the probe connection outlives each operation,
    // so every TargetLink of the process talks through the same loaded library.
    static JLinkApi& Process();

    // Where the library is looked for when no file is chosen, in order:
    // plain names for the library search path, then files in the vendor's usual folders.
    static std::vector<std::string> SearchNames();
    static std::vector<std::string> SearchFolders();
    static std::vector<std::string> CandidatePaths();

private:
    bool Resolve();

    DynamicLibrary library_;
    std::string libraryFile_;
    std::string libraryOrigin_;
    bool loaded_ = false;
    std::string error_;
    uint32_t probeSerial_ = 0;
};

}  // namespace tavrel
