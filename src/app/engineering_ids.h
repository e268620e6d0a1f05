// Control ids of the "Engineering options" window and its pages, by name.
// Ids repeat between pages (each page has its own control host), so a
// number alone does not say which control it is: use the name.
//
// Qt-free: the power calibration table of app/engineering.h binds its
// mnemonics to these ids, and the window builds its controls with them.
#pragma once

namespace vecta::app::eng {
// clang-format off

inline constexpr int kTabs = 1013;
// Diagnostic
inline constexpr int kSendAddress = 1014;
inline constexpr int kCommand = 1015;
inline constexpr int kSend = 1016;
inline constexpr int kReplyBox = 1017;
// Power calibration: one frequency edit and one level edit per row, named
// after the row's caption.
inline constexpr int kMinimumFreq = 1032;                // cflo
inline constexpr int kIntermediateFreq1 = 1033;          // cfl1
inline constexpr int kIntermediateFreq2 = 1034;          // cfl2
inline constexpr int kIntermediateFreq3 = 1125;          // cfl3, eight points
inline constexpr int kIntermediateFreq4 = 1126;          // cfl4, eight points
inline constexpr int kIntermediateFreq5 = 1127;          // cfl5, eight points
inline constexpr int kIntermediateFreq6 = 1128;          // cfl6, eight points
inline constexpr int kMaximumFreq = 1035;                // cfhi
inline constexpr int kMinimumFreqLevel = 1036;           // cpl1
inline constexpr int kIntermediateFreq1Level = 1037;     // cpl2
inline constexpr int kIntermediateFreq2Level = 1038;     // cpl3
inline constexpr int kIntermediateFreq3Level = 1129;     // cpl5, eight points
inline constexpr int kIntermediateFreq4Level = 1130;     // cpl6, eight points
inline constexpr int kIntermediateFreq5Level = 1131;     // cpl7, eight points
inline constexpr int kIntermediateFreq6Level = 1132;     // cpl8, eight points
inline constexpr int kMaximumFreqLevel = 1039;           // cpl4
inline constexpr int kPowerCalApply = 1003;
// IQ trim
inline constexpr int kFrequency = 1300;
inline constexpr int kFrequencyApply = 1043;
inline constexpr int kIMinus = 1048, kISlider = 1046, kIPlus = 1050, kIEdit = 1052, kIApply = 1054;
inline constexpr int kQMinus = 1049, kQSlider = 1047, kQPlus = 1051, kQEdit = 1053, kQApply = 1055;
inline constexpr int kNormalOperation = 1003;  // three-point page
inline constexpr int kSinglePoint = 1004;
inline constexpr int kLowerPoint = 1005;
inline constexpr int kMidPoint = 1030;
inline constexpr int kUpperPoint = 1040;
inline constexpr int kPointList = 1200;        // eleven-point page
inline constexpr int kSelectPoint = 1003;
// Advanced options
inline constexpr int kAdvancedTabs = 1000;
inline constexpr int kAdvancedApply = 1003;
inline constexpr int kUnitAddress = 1300;      // General
inline constexpr int kBaudRate = 1200;         // Serial control
inline constexpr int kFirstTimeout = 1300;     // 1300..1304

// clang-format on
}  // namespace vecta::app::eng
