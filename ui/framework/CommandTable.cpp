#include "ui/framework/CommandTable.h"

#include <algorithm>
#include <unordered_map>

#include "ui/framework/CommandIds.h"

namespace pm::ui {

namespace {

std::vector<Command> makeTable() {
    using namespace cmd;
    std::vector<Command> t = {
        {kNew, "&New Project...", {"Ctrl+N"}, "Starts a new project"},
        {kNewWizard, "New Project &Wizard...", {}, "Makes a new project step by step"},
        {kOpen, "&Open Project...", {"Ctrl+O"}, "Opens a project"},
        {kSave, "&Save Project", {"Ctrl+S"}, "Saves the project"},
        {kSaveAs, "Save Project &As...", {"Shift+F2"}, "Saves the project under a new name"},
        {kLoadImage, "Load &Image...", {"Ctrl+B"}, "Replaces the current scene's picture"},
        {kLoadAudio, "Load A&udio...", {"Ctrl+U"}, "Chooses the project's sound"},
        {kAudioProperties, "Audio P&roperties...", {}, "Trims and fades the sound"},
        {kProjectSettings, "Project Se&ttings...", {"Ctrl+P"}, "Changes the project's settings"},
        {kLoadTemplate, "Load &Template...", {"Shift+Ctrl+T"}, "Applies a motion template"},
        {kSaveTemplate,
         "Save As Te&mplate...",
         {"Shift+Ctrl+S"},
         "Saves the current scene as a template"},
        {kRenderVideo, "Render &Video...", {"Ctrl+F2"}, "Renders the project to a video file"},
        {kRecentFirst, "Recent Projects", {}, "Opens a project used lately"},
        {kExit, "E&xit", {"Alt+F4"}, "Closes the program"},
        {kApplyChanges, "&Apply Changes", {}, "Saves the project and closes the window"},
        {kUndo, "&Undo", {"Ctrl+Z", "Ctrl+Backspace"}, "Undoes the last step"},
        {kRedo, "&Redo", {"Ctrl+Y", "Ctrl+Shift+Backspace"}, "Redoes the step undone last"},
        {kCut, "Cu&t", {"Ctrl+X"}, "Cuts the selection"},
        {kCopy, "&Copy", {"Ctrl+C"}, "Copies the selection"},
        {kPaste, "&Paste", {"Ctrl+V"}, "Pastes"},
        {kInsertScene, "&Insert Scene", {"Ins"}, "Inserts a scene"},
        {kDeleteScene, "&Delete Scene", {"Del"}, "Deletes the selected scenes"},
        {kEditSceneItem, "&Edit Scene", {}, "Edits the selected scene"},
        {kSceneWizard, "Scene &Wizard...", {"Ctrl+W"}, "Gives the selected scenes a motion"},
        {kAddSceneWizard, "&Add Scene Wizard...", {}, "Adds scenes step by step"},
        {kPreferences, "Pre&ferences...", {}, "Changes the program's settings"},
        {kRestoreDefaults, "Restore &Default Settings", {}, "Goes back to the factory settings"},
        {kPlay, "&Play", {"Space"}, "Starts or stops playback"},
        {kStop, "&Stop", {"Esc"}, "Stops playback"},
        {kBegin, "&Begin", {"Home"}, "Moves the cursor to the start"},
        {kEnd, "&End", {"End"}, "Moves the cursor to the end"},
        {kNextFrame, "Next &Frame", {}, "Moves the cursor one frame on"},
        {kPreviousFrame, "Pre&vious Frame", {}, "Moves the cursor one frame back"},
        // The labels say Page Down and Page Up; the keys are the other way round.
        {kPreviousScene, "Previous S&cene\tPage Down", {"PgUp"}, "Goes to the previous scene"},
        {kNextScene, "&Next Scene\tPage Up", {"PgDown"}, "Goes to the next scene"},
        {kPreviousSelected,
         "Previous Selected Scene",
         {"Ctrl+PgUp"},
         "Goes to the previous selected scene"},
        {kNextSelected, "Next Selected Scene", {"Ctrl+PgDown"}, "Goes to the next selected scene"},
        {kPreviousKey, "Previous &Keyframe", {"Ctrl+Left"}, "Goes to the previous keyframe"},
        {kNextKey, "Next Ke&yframe", {"Ctrl+Right"}, "Goes to the next keyframe"},
        {kAddMarker, "Add &Marker", {"Num+*"}, "Adds a marker at the cursor"},
        {kClearMarkers, "Clear All Markers", {}, "Removes every marker"},
        {kNextMarker, "Next Marker", {"Shift+M"}, "Goes to the next marker"},
        {kPreviousMarker, "Previous Marker", {"Shift+N"}, "Goes to the previous marker"},
    };
    const char* groups[] = {"All", "Position", "Scale", "Camera", "Anchor Pt", "Filter"};
    const char* addKeys[] = {"A", "P", "S", "C", "H", "F"};
    for (int i = 0; i < 6; ++i) {
        t.push_back({kAddKeysFirst + i,
                     std::string("Add Keyframes to ") + groups[i],
                     {addKeys[i]},
                     std::string("Adds keyframes for ") + groups[i] + " at the cursor"});
    }
    for (int i = 0; i < 6; ++i) {
        t.push_back({kResetKeysFirst + i,
                     std::string("Reset Keyframes for ") + groups[i],
                     {std::string("Shift+") + addKeys[i]},
                     std::string("Resets the keyframes of ") + groups[i] + " at the cursor"});
    }
    t.push_back({kFullscreenKey,
                 "Add F&ullscreen Keyframe",
                 {"Ctrl+Ins"},
                 "Adds a fullscreen keyframe at the cursor's position"});
    t.push_back({kCropExcessTime,
                 "C&rop Excess Time",
                 {"Shift+X"},
                 "Removes the time after the last keyframe"});
    const char* times[] = {"0.1 s", "0.5 s", "1 s", "2 s", "5 s", "10 s", "1 min"};
    const std::vector<std::string> timeKeys[] = {{},
                                                 {},
                                                 {"Alt+1", "Num+Alt+1"},
                                                 {},
                                                 {"Alt+2", "Num+Alt+2"},
                                                 {"Alt+3", "Num+Alt+3"},
                                                 {"Alt+4", "Num+Alt+4"}};
    for (int i = 0; i < 7; ++i) {
        t.push_back({kAddTimeFirst + i, std::string("Add ") + times[i], timeKeys[i],
                     std::string("Adds ") + times[i] + " at the timeline cursor"});
    }
    t.push_back({kAddCustomTime, "Add Custom Time...", {"Alt+5"}, "Adds a time you enter"});
    const char* tools[] = {"&Pan",    "&Magnifier", "&Scale && Move", "&Rotate && Move",
                           "&Camera", "Pa&th",      "&Anchor Point"};
    const char* toolKeys[] = {"F3", "F4", "F5", "F6", "F7", "F8", "Shift+F5"};
    for (int i = 0; i < 7; ++i) {
        t.push_back({kToolFirst + i, tools[i], {toolKeys[i]}, "Selects the workspace tool"});
    }
    const char* overscan[] = {
        "Display &Overscan", "&Mask Overscan", "&Crop Overscan",
        "&Title Safe",       "&Alpha",         "Disable Audio while &Scrubbing"};
    const char* overscanKeys[] = {"Shift+F10", "Shift+F11", "Shift+F12",
                                  "Shift+F9",  "Shift+F8",  "Shift+F7"};
    for (int i = 0; i < 6; ++i) {
        t.push_back({kPreviewOptionFirst + i,
                     overscan[i],
                     {overscanKeys[i]},
                     "Changes what the preview shows"});
    }
    t.insert(
        t.end(),
        {
            {kEditProject, "Edit &Project", {"Backspace"}, "Edits the whole project"},
            {kEditScene,
             "Edit &Scene",
             {"Return", "Shift+Return"},
             "Edits the scene at the cursor"},
            {kProjectTime, "Pro&ject Time", {"Ctrl+Shift+G"}, "Shows times in the project"},
            {kSceneTime, "Sce&ne Time", {"Ctrl+Shift+L"}, "Shows times in the current scene"},
            {kZoomIn, "Zoom &In", {"Num++", "="}, "Enlarges the workspace"},
            {kZoomOut, "Zoom &Out", {"Num+-", "-"}, "Reduces the workspace"},
            {kFitToWindow, "&Fit to Window", {"Ctrl+Return"}, "Fits the workspace to the window"},
            {kActualPixels, "&Actual Pixel (1:1)", {"Ctrl+0"}, "Shows the picture pixel for pixel"},
            {kCentre, "&Center around Position", {"Ctrl+M"}, "Centres the workspace"},
            {kTimelineCentre, "Center Timeline around Cursor", {"Ctrl+R"}, "Centres the timeline"},
            {kTimelineFit, "Fit Timeline", {"Ctrl+T"}, "Shows the whole timeline"},
            {kTimelineZoomIn, "Zoom Timeline In", {"Ctrl+Num++"}, "Enlarges the timeline"},
            {kTimelineZoomOut, "Zoom Timeline Out", {"Ctrl+Num+-"}, "Reduces the timeline"},
            {kLayoutDefault, "&Default", {}, "Loads the factory layout"},
            {kLayoutAdd, "&Add to Layouts...", {}, "Keeps the layout of the windows under a name"},
            {kLayoutDelete, "D&elete Layout...", {}, "Deletes a layout"},
            {kShowPreview, "&Preview", {"F9"}, "Shows or hides the preview"},
            {kShowConfig, "&Configuration", {"F10"}, "Shows or hides the configuration"},
            {kShowInfo, "&Info", {"F11"}, "Shows or hides the info bar"},
            {kShowSpline, "&Spline Window", {"F12"}, "Shows or hides the spline editor"},
            {kShowMainBar, "&Main Toolbar", {}, "Shows or hides the main toolbar"},
            {kShowNavigationBar,
             "&Navigation Toolbar",
             {},
             "Shows or hides the navigation toolbar"},
            {kShowToolsBar, "&Tools", {}, "Shows or hides the tools"},
            {kShowPreviewBar, "Preview &Options", {}, "Shows or hides the preview options"},
            {kShowModeBar, "&Edit Mode", {}, "Shows or hides the edit mode toolbar"},
            {kShowStatusBar, "Status &Bar", {}, "Shows or hides the status bar"},
            {kHelpContents, "&Contents...", {"F1"}, "Opens the help"},
            {kHelpIndex, "&Index...", {}, "Opens the help's index"},
            {kEnableGuide, "&Enable Guide", {}, "Shows the guide's messages"},
            {kResetGuide, "&Reset Guide", {}, "Shows every guide message again"},
            {kResetMessages, "Reset &Messages", {}, "Asks again what you told it not to ask"},
            {kAbout, "&About Pictomove...", {}, "Shows the program's version"},
        });
    return t;
}

}  // namespace

const std::vector<Command>& commandTable() {
    static const std::vector<Command> table = makeTable();
    return table;
}

const Command* findCommand(int id) {
    static const std::unordered_map<int, const Command*> byId = [] {
        std::unordered_map<int, const Command*> m;
        for (const Command& c : commandTable()) {
            m.emplace(c.id, &c);
        }
        return m;
    }();
    const auto it = byId.find(id);
    return it == byId.end() ? nullptr : it->second;
}

std::string plainText(const Command& command) {
    std::string out;
    const std::string& text = command.text;
    for (std::size_t i = 0; i < text.size() && text[i] != '\t'; ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                out += '&';
                ++i;
            }
            continue;
        }
        out += text[i];
    }
    while (!out.empty() && out.back() == '.') {
        out.pop_back();
    }
    return out;
}

const std::vector<Menu>& mainMenu() {
    using namespace cmd;
    static const std::vector<Menu> menus = {
        {"&File",
         {kNew, kNewWizard, kOpen, kSave, kSaveAs, 0, kLoadImage, kLoadAudio, kAudioProperties,
          kProjectSettings, 0, kLoadTemplate, kSaveTemplate, 0, kRenderVideo, 0, kRecentFirst, 0,
          kExit}},
        {"&Edit",
         {kUndo, kRedo, 0, kCut, kCopy, kPaste, 0, kInsertScene, kDeleteScene, kEditSceneItem, 0,
          kSceneWizard, kAddSceneWizard, 0, kPreferences, kRestoreDefaults}},
        {"&Navigate",
         {kPlay,
          kStop,
          0,
          kBegin,
          kEnd,
          kNextFrame,
          kPreviousFrame,
          0,
          kPreviousScene,
          kNextScene,
          kPreviousSelected,
          kNextSelected,
          0,
          kPreviousKey,
          kNextKey,
          0,
          kAddMarker,
          kClearMarkers,
          kNextMarker,
          kPreviousMarker}},
        {"&Keyframes",
         {kAddKeysFirst,
          kAddKeysFirst + 1,
          kAddKeysFirst + 2,
          kAddKeysFirst + 3,
          kAddKeysFirst + 4,
          kAddKeysFirst + 5,
          0,
          kResetKeysFirst,
          kResetKeysFirst + 1,
          kResetKeysFirst + 2,
          kResetKeysFirst + 3,
          kResetKeysFirst + 4,
          kResetKeysFirst + 5,
          0,
          kFullscreenKey,
          kCropExcessTime,
          0,
          kAddTimeFirst,
          kAddTimeFirst + 1,
          kAddTimeFirst + 2,
          kAddTimeFirst + 3,
          kAddTimeFirst + 4,
          kAddTimeFirst + 5,
          kAddTimeFirst + 6,
          kAddCustomTime}},
        {"&View",
         {kEditProject,
          kEditScene,
          0,
          kProjectTime,
          kSceneTime,
          0,
          kToolFirst,
          kToolFirst + 1,
          kToolFirst + 2,
          kToolFirst + 3,
          kToolFirst + 4,
          kToolFirst + 5,
          kToolFirst + 6,
          0,
          kZoomIn,
          kZoomOut,
          kFitToWindow,
          kActualPixels,
          kCentre,
          0,
          kTimelineCentre,
          kTimelineFit,
          kTimelineZoomIn,
          kTimelineZoomOut,
          0,
          kPreviewOptionFirst,
          kPreviewOptionFirst + 1,
          kPreviewOptionFirst + 2,
          kPreviewOptionFirst + 3,
          kPreviewOptionFirst + 4,
          kPreviewOptionFirst + 5}},
        {"&Window",
         {kLayoutDefault, kLayoutAdd, kLayoutDelete, 0, kShowPreview, kShowConfig, kShowInfo,
          kShowSpline, 0, kShowMainBar, kShowNavigationBar, kShowToolsBar, kShowPreviewBar,
          kShowModeBar, kShowStatusBar}},
        {"&Help",
         {kHelpContents, kHelpIndex, 0, kEnableGuide, kResetGuide, kResetMessages, 0, kAbout}},
    };
    return menus;
}

}  // namespace pm::ui
