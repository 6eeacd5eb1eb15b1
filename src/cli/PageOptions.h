#pragma once
// How the operation commands fill a page's controls from their options, as a person would: list
// entries chosen by index or by their text, hexadecimal fields typed without "0x", the erase
// radios, and the image path as the file dialog hands it over.
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

#include "cli/Options.h"
#include "widgets/ControlState.h"

namespace tavrel::cli {


// Hexadecimal text as the fields take it: a leading "0x" is not typed.
std::string FieldText(const std::string& text);

// An address or a length as the fields take it: hexadecimal digits, with or without "0x", or a
// decimal count of KiB or MiB with a K or M suffix ("64K" is "10000"). Anything else is passed
// on as FieldText does, for the page's own check to refuse.
std::string NumberFieldText(const std::string& text);

// Chooses the entry of `list` that `value` names (its text as shown, or its index in decimal)
// through the page's own `select`. Empty when taken; otherwise what is wrong, naming the option.
// `refused` is said when the page does not take the choice (the list is disabled).
std::string ChooseListEntry(ControlState& list, const std::string& option, const std::string& value,
                            const std::function<bool(ControlState&, int)>& select, const std::string& refused);

// The list options of a page, each (when given) through ChooseListEntry, in the order given
// (a list whose choice refills another comes first). A refused choice is "goes with --hex only".
struct ListOption {
    const char* option;
    ControlState* list;
};
std::string ChooseListOptions(const Options& options, std::initializer_list<ListOption> lists,
                              const std::function<bool(ControlState&, int)>& select);

// "all", "blocks" or "sectors" as erase mode 0, 1, 2; none for anything else.
std::optional<int> EraseModeOption(const std::string& value);

// --erase, when given, through the page's erase radios; what is wrong, or empty.
std::string ApplyEraseOption(const Options& options, const std::function<void(int mode)>& click);
// --verify, when given, checks "Verify after programming" (a box a settings file checked stays so).
void ApplyVerifyOption(const Options& options, const ControlState& verify, const std::function<void()>& click);

// What the pages with a boot header (HEX or BIN) end with: --secure-password, --verify and the
// image file of --hex or --bin. Empty when taken; otherwise what is wrong.
template <typename Page>
std::string ApplyImageOptions(const Options& options, Page& page);

// The full path the file dialog would hand over (the worker looks a relative one up beside the
// program, not in the current folder).
std::string DialogPath(const std::string& file);

template <typename Page>
std::string ApplyImageOptions(const Options& options, Page& page) {
    if (auto password = options.Value("secure-password")) {
        if (!page.secureRadio.enabled) return "--secure-password goes with --hex only";
        page.ClickSecure();
        page.password.text = FieldText(*password);
    }
    ApplyVerifyOption(options, page.verify, [&page] { page.ClickVerify(); });
    if (auto file = options.Value(options.Has("hex") ? "hex" : "bin")) page.SetImagePath(DialogPath(*file));
    return {};
}

}  // namespace tavrel::cli
