#pragma once
// The chip catalogue: every fact the kit knows about the KR2 families, as constant data.
// Families travel as their exact names and are compared case-sensitively.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/FamilyProfile.h"
#include "model/InterfaceKind.h"

namespace tavrel {

// In the order in which families are tested.
inline constexpr std::array<std::string_view, 7> kFamilies = {
    "KR2A600", "KR2E500", "KR2A500", "KR2E550", "KR2G700", "KR2E700", "KR2H70X"};

// The main window's chip list, in order; the first is selected at start.
inline constexpr std::array<std::string_view, 4> kMainWindowChips = {"KR2A600", "KR2E500", "KR2G700", "KR2H70X"};


// OperationKind and ProgramPageKind travel in the operation-finished report.
enum OperationKind : int { kOperationErase = 0, kOperationProgram = 1, kOperationRead = 2 };
enum ProgramPageKind : int { kPageKR2A600 = 0, kPageEX500 = 1, kPageHX700 = 3 };

bool IsKnownFamily(std::string_view family);
std::optional<ProgramPage> ProgramPageFor(std::string_view family);
std::optional<ProgramPageKind> ProgramPageKindFor(std::string_view family);

bool IsEX500Group(std::string_view family);     // KR2E500, KR2A500, KR2E550, KR2G700, KR2E700
bool HasFlashChoice(std::string_view family);   // KR2E550, KR2H70X
bool IsExternalOnly(std::string_view family);   // KR2G700
bool HasAdvancedBin(std::string_view family);   // KR2E500, KR2A500, KR2G700
bool OffersUsb(std::string_view family);        // KR2H70X
// The families whose flash type is read from the main window and checked by the loader.
bool UsesFlashType(std::string_view family);    // KR2E550, KR2G700, KR2H70X

// The interface list of the main window for a family: JLINK, UART, and USB where offered.
std::vector<std::string> InterfacesFor(std::string_view family);

struct FlashTypeRow {
    std::string_view name;
    int32_t code;       // handed to the loader's flash-type check
    uint32_t capacity;  // bytes
};

extern const std::array<FlashTypeRow, 17> FlashTypeTable;

// The flash type list of a family, or none (the main window then leaves its list as it was).
std::optional<std::vector<std::string>> FlashTypeChoices(std::string_view family);
// First row of that exact name, or none.
std::optional<FlashTypeRow> LookupFlashType(std::string_view name);

struct ChoiceList {
    std::vector<std::string> items;
    int selected = -1;  // preselected index, -1 when the list is empty
};

// Boot UART of the KR2E500 group; families outside the group get empty lists.
ChoiceList UartPortChoices(std::string_view family);
ChoiceList UartPinChoices(std::string_view family, int portIndex);

struct ChipIdRow {
    std::string_view family;
    uint32_t address;   // where the identification word is read
    uint32_t expected;  // the identification word
};

// The family's identification word and where it is read (from its profile row).
std::optional<ChipIdRow> LookupChipId(std::string_view family);

std::optional<MailboxSet> MailboxFor(std::string_view family);

// Where the framed boot ROM of the KR2E500 group takes the baud-rate parameter word.
std::optional<uint32_t> FramedParameterAddress(std::string_view family);

// The choices an operation page copies from the main window and the link panels at Start.
struct TargetSelection {
    std::string family = "KR2A600";
    std::string interfaceName = "JLINK";
    bool internalFlash = true;
    std::string flashInterface = "QSPI";
    std::string flashTypeName;
    int32_t flashTypeCode = 0;
    uint32_t flashCapacity = 0;
    uint32_t jlinkSpeedKhz = 8000;
    std::string comPort;
    uint32_t baudRate = 115200;

    std::optional<InterfaceKind> Interface() const { return InterfaceKindOf(interfaceName); }

    // Takes code and capacity from FlashTypeTable for the families that use a flash type;
    // an unknown name keeps what was there before.
    void ApplyFlashType(const std::string& name);
};

}  // namespace tavrel
