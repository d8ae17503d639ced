// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QRect>
#include <QString>

// The main page's control ids, rectangles, icons and fixed texts in one place. Rectangles are
// pixels (x, y, width, height) in the page's own coordinates.
namespace Page {

enum ControlId : int {
    IDC_TASK_LIST = 1011,
    IDC_ADD_FILE = 1012,
    IDC_REMOVE_TASK = 1013,
    IDC_REMOVE_ALL = 1014,
    IDC_HELP_CONTENTS = 1016,
    IDC_OUTPUT_DIR = 1021,
    IDC_BROWSE = 1022,
    IDC_OUTPUT_DIR_LABEL = 1034,
    IDC_PROFILE_LABEL = 1036,
    IDC_RANGE_SLIDER = 1047,
    IDC_START = 1048,
    IDC_STOP = 1049,
    IDC_OUTPUT_GROUP = 1052,
    IDC_PREVIEW = 1053,
    IDC_PREVIEW_PLAY = 1054,
    IDC_PREVIEW_STOP = 1055,
    IDC_PICTURE = 1058,
    IDC_SHUTDOWN = 1059,
    IDC_OUTPUT_TYPE = 1061,
    IDC_PROFILE_LIST = 1065,
    IDC_OUTPUT_DESCRIPTION = 1066,
    IDC_OUTPUT_TYPE_LABEL = 1070,
    IDC_SIMULTANEOUS_LABEL = 1071,
    IDC_SIMULTANEOUS = 1072,
    IDC_MAX_SIZE_CHECK = 1073,
    IDC_MAX_SIZE = 1074,
    IDC_SPLIT = 1075,
    IDC_LOUDNESS = 1076,
    IDC_SUBTITLES = 1077,
};

struct ControlPlace {
    int id;
    QRect rect;
};

// Every control's rectangle, in the order the page moves them into place.
inline constexpr ControlPlace controlPlaces[] = {
    {IDC_TASK_LIST, QRect(10, 13, 605, 160)},
    {IDC_OUTPUT_DIR_LABEL, QRect(10, 182, 100, 15)},
    {IDC_OUTPUT_DIR, QRect(115, 178, 440, 20)},
    {IDC_BROWSE, QRect(557, 178, 60, 20)},
    {IDC_ADD_FILE, QRect(615, 25, 42, 42)},
    {IDC_REMOVE_TASK, QRect(615, 60, 42, 42)},
    {IDC_REMOVE_ALL, QRect(615, 95, 42, 42)},
    {IDC_PICTURE, QRect(10, 212, 264, 200)},
    {IDC_PREVIEW, QRect(10, 212, 264, 200)},
    {IDC_PREVIEW_PLAY, QRect(10, 413, 17, 17)},
    {IDC_PREVIEW_STOP, QRect(28, 413, 17, 17)},
    {IDC_RANGE_SLIDER, QRect(46, 413, 228, 17)},
    {IDC_OUTPUT_GROUP, QRect(280, 206, 372, 225)},
    {IDC_OUTPUT_TYPE_LABEL, QRect(288, 222, 100, 20)},
    {IDC_OUTPUT_TYPE, QRect(400, 220, 224, 20)},
    {IDC_OUTPUT_DESCRIPTION, QRect(288, 244, 358, 60)},
    {IDC_PROFILE_LABEL, QRect(288, 308, 100, 20)},
    {IDC_PROFILE_LIST, QRect(288, 332, 358, 70)},
    {IDC_SHUTDOWN, QRect(288, 407, 358, 15)},
    {IDC_SIMULTANEOUS_LABEL, QRect(10, 438, 112, 20)},
    {IDC_SIMULTANEOUS, QRect(124, 437, 64, 22)},
    {IDC_MAX_SIZE_CHECK, QRect(10, 464, 104, 20)},
    {IDC_MAX_SIZE, QRect(116, 463, 84, 22)},
    {IDC_SPLIT, QRect(210, 464, 150, 20)},
    {IDC_LOUDNESS, QRect(10, 489, 180, 20)},
    {IDC_SUBTITLES, QRect(210, 489, 150, 20)},
    {IDC_HELP_CONTENTS, QRect(374, 435, 30, 30)},
    {IDC_START, QRect(418, 432, 105, 70)},
    {IDC_STOP, QRect(418, 432, 105, 70)},
};

// One image button: its icons (hover, normal) and tooltip.
struct ImageButtonSetup {
    int id;
    int hoverIcon;
    int normalIcon;
    const char *tooltip;
};

// In the order the buttons get their icons and colours.
inline constexpr ImageButtonSetup imageButtons[] = {
    {IDC_ADD_FILE, 138, 137, "Add a video to converting task"},
    {IDC_REMOVE_TASK, 136, 135, "Remove selected video"},
    {IDC_REMOVE_ALL, 140, 139, "Remove all videos"},
    {IDC_START, 148, 147, "Start Converting"},
    {IDC_STOP, 145, 146, "Stop Converting"},
    {IDC_PREVIEW_PLAY, 188, 189, "Preview selected videos"},
    {IDC_PREVIEW_STOP, 190, 191, "Stop preview"},
    {IDC_HELP_CONTENTS, 141, 142, "Contents"},
};

// The order in which the buttons receive their tooltips.
inline constexpr int tooltipOrder[] = {IDC_ADD_FILE,      IDC_REMOVE_TASK,  IDC_REMOVE_ALL,
                                       IDC_HELP_CONTENTS, IDC_PREVIEW_PLAY, IDC_PREVIEW_STOP,
                                       IDC_START,         IDC_STOP};

// Image button colours, 0x00BBGGRR.
inline constexpr quint32 buttonNormalText = 0x00614231;
inline constexpr quint32 buttonHoverText = 0x00141414;
inline constexpr quint32 buttonFocusText = 0x00614231;
inline constexpr quint32 buttonHoverBack = 0x00614231;

inline constexpr int backgroundBitmap = 185;
inline constexpr int pictureBitmap = 190;
inline constexpr int pictureFadeDelay = 100;
inline constexpr int appIcon = 128;

inline constexpr QSize pageSize(669, 598);
inline constexpr QPoint pageOrigin(2, 2);
inline constexpr QSize frameSize(670, 550);

// Trim range of the slider while no task is loaded, in seconds.
inline constexpr double idleRangeSeconds = 120.0;
// A newly added file is previewed here, and so is a trim point past the clip's end.
inline constexpr double previewFallbackSeconds = 1.0;
// End's picture is the frame on screen just before End: the preview is asked for a moment this
// much earlier (it takes a time within a microsecond of a frame's start as that frame).
inline constexpr double endPictureLead = 2e-6;

// Page Down and Page Up move the selection by this many rows.
inline constexpr int pageStep = 3;

struct ListColumn {
    const char *header;
    int width;
    Qt::Alignment alignment;
};

inline constexpr ListColumn listColumns[] = {
    {"Source", 120, Qt::AlignLeft},     {"Begin Time", 70, Qt::AlignHCenter},
    {"End Time", 70, Qt::AlignHCenter}, {"Output", 80, Qt::AlignLeft},
    {"Progress", 260, Qt::AlignLeft},
};

// Output types in combo box order; the two blanks after "3GP" belong to the first two.
inline constexpr const char *outputTypeItems[] = {
    "Cell Phone 3GP  files (3GP + AMR)",
    "Cell Phone 3GP  files (3GP + AAC)",
    "Cell Phone 3GP2 files (3GP2 + AAC)",
};

inline constexpr const char *outputDirLabelText = "Output Directory:";
inline constexpr const char *browseText = "Browse";
inline constexpr const char *outputGroupText = "Output Setting";
inline constexpr const char *simultaneousText = "Simultaneous tasks:";
inline constexpr const char *simultaneousAutoText = "Auto";
inline constexpr const char *simultaneousTip =
    "How many videos convert at the same time: 1 converts one after another, Auto as many as "
    "keep this computer busy";
// Tasks at once the page offers at most; more only share the same cores.
inline constexpr int maxSimultaneousTasks = 16;
inline constexpr const char *maxSizeText = "Largest file:";
inline constexpr const char *maxSizeTip =
    "No output larger than this, every byte counted: each video's rates follow its length. "
    "Type a size in KB or MB, or pick one";
// The limits offered; any other can be typed.
inline constexpr const char *maxSizeItems[] = {"300 KB", "600 KB", "1 MB", "10 MB"};
inline constexpr const char *splitText = "Split into parts";
inline constexpr const char *splitTip =
    "A video too long for the largest file is cut into parts, each within it, that convert "
    "side by side: \"Name (part 1 of 3)\"";
inline constexpr const char *loudnessText = "Even out the sound";
inline constexpr const char *loudnessTip =
    "Every video's sound brought to the same loudness, -16 LUFS, with its peaks under "
    "-1.5 dBTP: heard alike on a phone's small speaker";
inline constexpr const char *subtitlesText = "Burn in subtitles";
inline constexpr const char *subtitlesTip =
    "Subtitles drawn into the picture: a subtitle file beside the video with its name (.srt, "
    ".ass, .ssa, .vtt), else the video's first text subtitle stream";
inline constexpr const char *outputTypeLabelText = "Select Output Type:";
inline constexpr const char *profileLabelText = "Select Profile:";
inline constexpr const char *shutdownText =
    "Automatically Shut Down the computer when converting finished";

// Settings: the default value of each key lives under "<key>/Default".
inline constexpr const char *settingsOrganization = "Kestrani";
inline constexpr const char *settingsApplication = "Kestrani";
inline constexpr const char *destinationKey = "destination/Default";
inline constexpr const char *fileNumberKey = "fileno/Default";
inline constexpr const char *simultaneousKey = "simultaneous/Default";
inline constexpr const char *maxSizeOnKey = "maxsizeon/Default";
inline constexpr const char *maxSizeKey = "maxsize/Default";
inline constexpr const char *splitKey = "split/Default";
inline constexpr const char *loudnessKey = "loudness/Default";
inline constexpr const char *subtitlesKey = "subtitles/Default";
inline constexpr const char *versionKey = "Version/Default";
// Where the user left the window and the help window, as their frames' top-left corners.
inline constexpr const char *windowPlaceKey = "window/Default";
inline constexpr const char *helpPlaceKey = "helpwindow/Default";
// The version text is bounded as a 256-character buffer would bound it.
inline constexpr int versionMaxLength = 255;

inline constexpr const char *helpFileName = "Help.html";

// Open-file dialog filters, one per line in Qt's syntax. Sound-only types are none of them; a
// video of any other name is reached through the last.
inline constexpr const char *videoFileFilters =
    "Supported video files (*.avi *.mpg *.mpeg *.vob *.wmv *.asf *.mov *.qt *.mp4 *.m4v *.3gp "
    "*.3g2 *.mkv *.webm *.mts *.m2ts *.ts *.flv *.ogv *.dv);;"
    "AVI Files (*.avi);;"
    "Mpeg files (*.mpg *.mpeg *.vob);;"
    "Windows Media files (*.wmv *.asf);;"
    "Quick Time Files (*.mov *.qt);;"
    "3GP Files (*.3gp);;"
    "MP4 Files (*.mp4);;"
    "All files (*)";

// Names of video files, in any case. A file is taken by what it holds; one that cannot be read
// is still taken when it is named like a video, so that it converts once it can be read.
inline constexpr const char *videoExtensions[] = {
    "avi", "mpg", "mpeg", "vob",  "wmv", "asf",  "mov", "qt",  "mp4", "m4v",
    "3gp", "3g2", "mkv",  "webm", "mts", "m2ts", "ts",  "flv", "ogv", "dv"};

} // namespace Page
