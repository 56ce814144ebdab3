#pragma once

// The failure numbers the program gives its failures, as reports and
// callers know them.
inline constexpr long kInvalidProcedureCall = 5;
inline constexpr long kOverflow = 6;
inline constexpr long kTypeMismatch = 13;
inline constexpr long kFileNotFound = 53;
inline constexpr long kInvalidPropertyValue = 380;
inline constexpr long kInvalidPicture = 481;
inline constexpr long kPermissionDenied = 70;
inline constexpr long kPathNotFound = 76;
