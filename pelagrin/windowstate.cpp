#include "pelagrin/windowstate.h"

#include <initializer_list>

namespace pelagrin {

ControlStates controlStates(const WindowState& state)
{
    const bool idle = state.activity == Activity::Idle;
    const bool region = state.activity == Activity::Region;
    ControlStates c;
    if (state.activity == Activity::Closed) {
        for (ControlState* s :
             {&c.Text1, &c.Text2, &c.Text5, &c.Text6, &c.Command1, &c.Command2, &c.Command3,
              &c.Command4, &c.Command5, &c.Command6, &c.Command7, &c.Command8, &c.Check1}) {
            s->enabled = false;
        }
        c.Command6.visible = false;
        c.Check1.visible = false;
        return c;
    }
    c.Text1.enabled = !region;
    c.Text2.enabled = !region;
    c.Text5.enabled = !state.zoomLocked;
    c.Command1.enabled = idle;
    c.Command2.enabled = !region;
    c.Command3.enabled = !region;
    c.Command4.enabled = idle && state.startArmed;
    c.Command5.enabled = idle;
    c.Command7.enabled = idle;
    c.Command8.enabled = !region;
    c.Text6.enabled = !region;
    c.Command6.visible = region;
    c.Command7.visible = !region;
    c.Check1.visible = region;
    return c;
}

} // namespace pelagrin
