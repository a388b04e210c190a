#pragma once

#include <optional>

// How the reassignment sheet renames photos; stored as its raw value under
// "prefRadioSet1SelectedTag".
enum class ReassignMode : int
{
    defaultmode = 200, // one entered barcode (or UNKNOWN) for every marked photo
    mode201 = 201, // never takes effect: the mode rule rewrites it to 200
    mode202 = 202, // barcodes carried over the folder from the barcode photos
};

// The case with that raw value; no case for any other integer.
inline std::optional<ReassignMode> reassignModeFromRawValue(long long raw)
{
    switch (raw) {
    case 200:
        return ReassignMode::defaultmode;
    case 201:
        return ReassignMode::mode201;
    case 202:
        return ReassignMode::mode202;
    default:
        return std::nullopt;
    }
}

inline constexpr int rawValue(ReassignMode mode)
{
    return static_cast<int>(mode);
}
