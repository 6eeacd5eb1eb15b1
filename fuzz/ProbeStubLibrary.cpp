// The library a scripted probe loads in place of the vendor's: the eighteen functions the
// programmer resolves, each answering "done" without a target. ScriptedProbe then points the
// memory accesses at the fuzz input; this file only lets JLinkApi load and resolve something.
#include <cstdint>

extern "C" {
__attribute__((visibility("default"))) int JLINKARM_EMU_GetList(int, void*, int) { return 1; }
__attribute__((visibility("default"))) void JLINKARM_GetIdData(void*) {}
__attribute__((visibility("default"))) const char* JLINKARM_Open() { return nullptr; }
__attribute__((visibility("default"))) void JLINKARM_ConfigJTAG(int, int) {}
__attribute__((visibility("default"))) void JLINKARM_TIF_GetAvailable(uint32_t* mask) { *mask = 3; }
__attribute__((visibility("default"))) int JLINKARM_TIF_Select(int) { return 0; }
__attribute__((visibility("default"))) int JLINKARM_Connect() { return 0; }
__attribute__((visibility("default"))) char JLINKARM_Halt() { return 0; }
__attribute__((visibility("default"))) char JLINKARM_Go() { return 0; }
__attribute__((visibility("default"))) void JLINKARM_SetSpeed(uint32_t) {}
__attribute__((visibility("default"))) int JLINKARM_SetResetType(int) { return 0; }
__attribute__((visibility("default"))) int JLINKARM_Reset() { return 0; }
__attribute__((visibility("default"))) int JLINKARM_WriteMem(uint32_t, uint32_t count, const void*) {
    return static_cast<int>(count);
}
__attribute__((visibility("default"))) int JLINKARM_ReadMem(uint32_t, uint32_t, void*) { return -1; }
__attribute__((visibility("default"))) char JLINKARM_WriteReg(int, uint32_t) { return 0; }
__attribute__((visibility("default"))) uint32_t JLINKARM_ReadReg(int) { return 0; }
__attribute__((visibility("default"))) char JLINKARM_IsConnected() { return 1; }
__attribute__((visibility("default"))) void JLINKARM_Close() {}
}
