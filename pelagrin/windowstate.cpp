#include "pelagrin/windowstate.h"

namespace pelagrin {

ControlStates controlStates(const WindowState& state)
{
    const bool idle = state.activity == Activity::Idle;
    const bool region = state.activity == Activity::Region;
    ControlStates c;
    c.Text1.enabled = !region;
    c.Text2.enabled = !region;
    c.Text5.enabled = !state.zoomLocked;
    c.Command1.enabled = idle;
    c.Command2.enabled = !region;
    c.Command3.enabled = !region;
    c.Command4.enabled = idle && state.startArmed;
    c.Command5.enabled = idle;
    c.Command7.enabled = idle;
    c.Command6.visible = region;
    c.Command7.visible = !region;
    c.Check1.visible = region;
    return c;
}

} // namespace pelagrin
