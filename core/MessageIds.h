#pragma once

// Identifiers of the string table's texts that the code names, in one place. The texts live in
// StringTable.cpp; messages reported as serious add ErrorInfo::kSerious where they are reported.
namespace pm::msg {

// Questions.
inline constexpr int kRestoreDefaultsQuestion = 501;
inline constexpr int kExportAddsSound = 525;   // the exporter writes sound, the project has none
inline constexpr int kExportDropsSound = 526;  // the project's sound, the exporter writes none
inline constexpr int kExporterFailed = 531;

// Undo steps, menu texts and status texts.
inline constexpr int kKeyframeAdded = 4001;
inline constexpr int kKeyframesAdded = 4002;
inline constexpr int kFileOpened = 4006;
inline constexpr int kNewFileCreated = 4007;
inline constexpr int kKeyframesModified = 4010;
inline constexpr int kUndoPrefix = 4011;
inline constexpr int kRedoPrefix = 4012;
inline constexpr int kFileSaved = 4015;
inline constexpr int kUndoKey = 4016;
inline constexpr int kRedoKey = 4017;
inline constexpr int kTemplateApplied = 4027;
inline constexpr int kLoadingImage = 4050;
inline constexpr int kLoadingDefaultImage = 4051;
inline constexpr int kCreatingMipmaps = 4052;

// Failures.
inline constexpr int kInternalError = 6100;
inline constexpr int kMemoryAllocationFailed = 6101;
inline constexpr int kCannotInitialise = 6109;
inline constexpr int kCouldNotLoadBitmap = 6203;
inline constexpr int kCouldNotLoadImage = 6204;
inline constexpr int kCouldNotLoadProject = 6205;
inline constexpr int kCouldNotSaveProject = 6206;
inline constexpr int kPartsNotSaved = 6208;
inline constexpr int kUnsupportedSize = 6210;
inline constexpr int kCouldNotLoadTemplate = 6215;
inline constexpr int kCouldNotSaveTemplate = 6216;
inline constexpr int kCouldNotLoadSound = 6218;
inline constexpr int kInsufficientSpace = 6219;
inline constexpr int kSceneNotAdded = 6220;
inline constexpr int kMaxScenesExceeded = 6221;

// Sound descriptions.
inline constexpr int kSoundFormat = 6300;
inline constexpr int kNoSound = 6301;

}  // namespace pm::msg
