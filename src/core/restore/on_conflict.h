#pragma once

// What a restore does where a file is already at its target.
enum class OnConflict {
    KeepBoth, // the restored file gets " (restored 2026-12-09)" before its extension
    Replace,  // the file there goes to the desktop's trash
    Skip,
};
