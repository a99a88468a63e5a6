#pragma once

namespace pelagrin {

// What the downloader window is doing; it decides which controls can be used.
enum class Activity {
    Idle,
    Fetching, // the start-up test, "Refresh", "Preview" or "Save single HiRes BMP" waits
    Region,   // a region download runs
    Closed,   // the window was closed: nothing more is started or told
};

// The window's state as far as its controls are concerned. Handlers change it and then have
// the controls follow; a change made while a fetch waits (a corner set meanwhile) therefore
// outlives the fetch.
struct WindowState {
    bool zoomLocked = false; // a begin corner was set: the zoom stays until a region run ends
    bool startArmed = false; // an end corner was set since the last region run
    Activity activity = Activity::Idle;
};

struct ControlState {
    bool enabled = true;
    bool visible = true;
};

// The controls whose state changes while the window runs; the others are always usable.
struct ControlStates {
    ControlState Text1, Text2, Text5, Text6;
    ControlState Command1, Command2, Command3, Command4, Command5, Command6, Command7, Command8;
    ControlState Check1;
};

// Idle: everything usable but "Start download" (until an end corner is set) and the zoom box
// (while a begin corner holds it); "Abort Download" and the check box hidden. Fetching: the
// three fetching buttons and "Start download" are locked, the corner buttons stay. Region:
// only "Abort Download" and the check box (shown in place of "Preview") can be used besides
// the offset boxes and map types, which the run does not read. The route's button and width
// are usable but during a run. Closed: nothing can be used.
ControlStates controlStates(const WindowState& state);

} // namespace pelagrin
