#include "core/StringTable.h"

#include <algorithm>
#include <iterator>

namespace pm::strings {

namespace {

struct Entry {
    int id;
    const char* text;
};

// Sorted by id.
constexpr Entry kTable[] = {
    {210, "Custom"},
    {211, "Square Pixel"},
    {212, "Anamorphic 2:1"},
    {230, "Constant\nLinear\nSpline"},
    {232, "Seconds\nNTSC\nPAL\nCustom"},
    {234, "4:3\n16:9\nCustom"},
    {500, "The current layout will be lost if you load a new layout.\nDo you wish to continue?"},
    {501,
     "The current preferences will be lost if you restore the factory settings.\nDo you wish to "
     "continue?"},
    {511, "Changing the project length will change the length of all scenes."},
    {512, "Failed to insert scene %s.\n\n%s"},
    {514, "Deleting all selected scenes?"},
    // The maximum project length, formatted in the current time display.
    {515, "The project cannot be longer than %s."},
    {516, "The file '%s' already exists!\nDo you want to overwrite it?"},
    {517, "Failed to move file: %s."},
    {518, "Failed to copy file: %s."},
    {520, "Delete the setting: '%s'?"},
    {521, "Deleting all selected files?"},
    {522, "Failed to delete file: %s!"},
    {523,
     "The keyframes you are about to paste overlap with other existing keyframes.  Do you wish to "
     "continue?"},
    {524,
     "The project will be lengthened to make room to paste keyframes at this location.  Do you "
     "wish to continue?"},
    {525,
     "The exporter is configured to export audio though the project doesn't contain audio.\nAn "
     "empty audio track will be exported."},
    {526,
     "The exporter is configured not to export audio though the project contain audio.\nThe audio "
     "track will be lost."},
    {527, "Too many files were selected\n\nFrom this dialog you need to select fewer files."},
    {530, "Are you sure you want to delete all markers in the current project?"},
    {531,
     "The exporter has caused a serious error!\nThe operation has been aborted.\n\nThe "
     "application might become unstable and should be restarted."},
    {2031, "Canceling..."},
    {4000, "Sound Settings Changed"},
    {4001, "Keyframe Added"},
    {4002, "Keyframes Added"},
    {4003, "Keyframe Deleted"},
    {4004, "Keyframes Deleted"},
    {4005, "Project Settings Changed"},
    {4006, "File Opened"},
    {4007, "New file Created"},
    {4008, "Segment Interpolation Mode Changed"},
    {4009, "Segments Interpolation Mode Changed"},
    {4010, "Keyframes Modified"},
    {4011, "&Undo "},
    {4012, "&Redo "},
    {4014, "Bitmap Changed"},
    {4015, "File Saved"},
    {4016, "\tCtrl+Z"},
    {4017, "\tCtrl+Y"},
    {4018, "Crop excess time"},
    {4019, "Time Added"},
    {4020, "Wizard Changes"},
    {4021, "Scene Settings Changed"},
    {4022, "Scene Length Changed"},
    {4023, "Scene Deleted"},
    {4024, "Scene Added"},
    {4025, "Transition Length Changed"},
    {4026, "Scene Moved"},
    {4027, "Template Applied"},
    {4028, "Cut Keyframes"},
    {4029, "Paste Keyframes"},
    {4030, "Overlap Moved"},
    {4031, "Marker Added"},
    {4032, "Marker Deleted"},
    {4033, "Marker Moved"},
    {4034, "Image Preparation Changed"},
    {4050, "Loading Image %s ..."},
    {4051, "Loading Default Image..."},
    {4052, "Creating Mipmaps..."},
    {6001, "%s - Error"},
    {6002, "%s - Warning"},
    {6003, "%s - Question"},
    {6004, "%s - Info"},
    {6005, "%s - Guide"},
    // Ids below 6100 that are reported as failures show this text.
    {6100, "An error has occurred."},
    {6101, "Memory allocation failed."},
    {6109, "Could not initialize application"},
    {6110,
     "Could not find common components!\nThe installation is incomplete. Please reinstall the "
     "software!"},
    {6203, "Could not load bitmap file."},
    {6204, "Could not load image file. \n(%s)"},
    {6205, "Could not load project file"},
    {6206, "Could not save project file"},
    {6208, "Parts of the project file could not be saved"},
    {6210,
     "Unsupported image size! The image must be larger than %i x %i and smaller than %i x %i."},
    {6215, "Could not load template file"},
    {6216, "Could not save template file"},
    {6218, "Could not load sound file. \n(%s)"},
    {6219,
     "Insufficient free hard drive space on specified location. (Required Size: %i MB, "
     "Available: %i MB)"},
    {6220, "Could not load image file.  Scene will not be added. \n(%s)"},
    {6221, "Maximum number of scenes exceeded (%i)"},
    {6300, "Audio: %i Channel(s), %6.3fkHz, %iBit"},
    {6301, "No Audio"},
    {6305, "Lower Field First"},
    {6306, "Upper Field First"},
    {6307, "Full Frame"},
    {6308, "We're sorry!\nThis feature is not implemented yet."},
    // Names of the motion parameters and their groups.
    {7100, "X"},
    {7101, "Y"},
    {7102, "Scale"},
    {7103, "X Angle"},
    {7104, "Y Angle"},
    {7105, "Z Angle"},
    {7106, "Perspective"},
    {7107, "X"},
    {7108, "Y"},
    {7109, "Blur"},
    {7120, "All"},
    {7121, "Position"},
    {7122, "Scale"},
    {7123, "Camera"},
    {7124, "Anchor Point"},
    {7125, "Filters"},
};

static_assert(std::is_sorted(std::begin(kTable), std::end(kTable),
                             [](const Entry& a, const Entry& b) { return a.id < b.id; }),
              "keep the string table sorted by id");

}  // namespace

const char* find(int id) {
    const auto it = std::lower_bound(std::begin(kTable), std::end(kTable), id,
                                     [](const Entry& e, int value) { return e.id < value; });
    return it != std::end(kTable) && it->id == id ? it->text : nullptr;
}

std::string text(int id) {
    const char* t = find(id);
    return t ? t : std::string();
}

std::string format(int id, std::initializer_list<TextArg> args) {
    return formatText(text(id), args);
}

}  // namespace pm::strings
