// frmFennick as it was drawn: its caption, its client area and every control with its kind,
// text, place in twips and tab index. Both windows, the Qt one and the Win32 one, are made from
// this table, so that they are one window on two toolkits.
#pragma once

#include <array>

namespace cleaner {

inline constexpr const char* kWindowCaption = "Tarvo Registry Cleaner";

// The client area in twips; 1440 twips an inch, so 15 twips a pixel at 96 dots an inch.
inline constexpr int kClientWidthTwips = 4665;
inline constexpr int kClientHeightTwips = 4080;
inline constexpr int kTwipsPerInch = 1440;

// The warning text of Text3: four lines, each ended by CR LF.
inline constexpr const char* kWarningText =
    "Warning!! This program will alter your system registry.  \r\n"
    "\r\n"
    "Please ensure that you have the means to recover should \r\n"
    "this process fail.\r\n";

enum class ControlKind {
    Label,         // a caption
    PathBox,       // a text box the user types in
    DisplayBox,    // a text box the run writes and the user only reads, on the button face
    WarningBox,    // the multi-line, read-only warning, on the window background
    CheckBox,
    Button,
    Line,          // a horizontal line one pixel high
};

enum class ControlId {
    Label3, txtKeyFile, Label4, txtRegFile, Check1, Check2, Line1, Label1, txtKeyWord, Label2,
    txtRegistryHive, txtStatus, cmdRemove, Label5, Label6, cmdCancel, Text1, Text2, Text3,
};

struct FormControl {
    ControlId id;
    const char* name;
    ControlKind kind;
    const char* text;
    int left, top, width, height;  // twips from the client area's top-left corner
    int tabIndex;                  // -1: Line1, which takes no part in the tab order
    bool ticked = false;           // a check box ticked when the window opens
};

inline constexpr std::array<FormControl, 19> kFormControls = {{
    {ControlId::Label3, "Label3", ControlKind::Label, "Key File", 240, 120, 1095, 255, 7},
    {ControlId::txtKeyFile, "txtKeyFile", ControlKind::PathBox, "taRegKeywords.txt", 1320, 120, 3255, 315, 8},
    {ControlId::Label4, "Label4", ControlKind::Label, "Reg File", 240, 480, 1095, 255, 10},
    {ControlId::txtRegFile, "txtRegFile", ControlKind::PathBox, "taDeletedRegKeys.reg", 1320, 480, 3255, 315, 9},
    {ControlId::Check1, "Check1", ControlKind::CheckBox, "Remove Keys", 1320, 840, 1335, 255, 15, true},
    {ControlId::Check2, "Check2", ControlKind::CheckBox, "Remove Settings", 2880, 840, 1695, 255, 16},
    {ControlId::Line1, "Line1", ControlKind::Line, "", 240, 1155, 4560 - 240, 0, -1},
    {ControlId::Label1, "Label1", ControlKind::Label, "Key Word", 240, 1200, 1095, 255, 0},
    {ControlId::txtKeyWord, "txtKeyWord", ControlKind::DisplayBox, "", 1320, 1200, 3255, 315, 2},
    {ControlId::Label2, "Label2", ControlKind::Label, "Registry Hive", 240, 1560, 1095, 255, 1},
    {ControlId::txtRegistryHive, "txtRegistryHive", ControlKind::DisplayBox, "", 1320, 1560, 3255, 315, 3},
    {ControlId::txtStatus, "txtStatus", ControlKind::DisplayBox, "", 240, 1920, 4335, 315, 4},
    {ControlId::cmdRemove, "cmdRemove", ControlKind::Button, "Remove...", 240, 2280, 975, 615, 6},
    {ControlId::Label5, "Label5", ControlKind::Label, "Start", 1440, 2280, 855, 255, 13},
    {ControlId::Label6, "Label6", ControlKind::Label, "End", 2520, 2280, 855, 255, 14},
    {ControlId::cmdCancel, "cmdCancel", ControlKind::Button, "Cancel", 3600, 2280, 975, 615, 5},
    {ControlId::Text1, "Text1", ControlKind::DisplayBox, "", 1440, 2520, 855, 375, 11},
    {ControlId::Text2, "Text2", ControlKind::DisplayBox, "", 2520, 2520, 855, 375, 12},
    {ControlId::Text3, "Text3", ControlKind::WarningBox, kWarningText, 240, 3000, 4335, 975, 17},
}};

}  // namespace cleaner
