#include "pelagrin/windowstate.h"

#include <gtest/gtest.h>

namespace {

using namespace pelagrin;

// One letter per control, in this order: Text1 Text2 Text5 Command1 Command2 Command3 Command4
// Command5 Command7 ("e" enabled, "-" disabled), then the visible ones among Command6, Command7
// and Check1 ("6", "7", "c").
std::string summary(const ControlStates& c)
{
    std::string out;
    for (const ControlState& s : {c.Text1, c.Text2, c.Text5, c.Command1, c.Command2, c.Command3,
                                  c.Command4, c.Command5, c.Command7}) {
        out += s.enabled ? 'e' : '-';
    }
    out += ' ';
    out += c.Command6.visible ? "6" : "";
    out += c.Command7.visible ? "7" : "";
    out += c.Check1.visible ? "c" : "";
    return out;
}

struct StateCase {
    const char* name;
    WindowState state;
    const char* controls;
};

class ControlStateTable : public ::testing::TestWithParam<StateCase> {};

TEST_P(ControlStateTable, FollowsTheWindowState)
{
    EXPECT_EQ(summary(controlStates(GetParam().state)), GetParam().controls);
}

INSTANTIATE_TEST_SUITE_P(
    States, ControlStateTable,
    ::testing::Values(
        StateCase{"Idle", {false, false, Activity::Idle}, "eeeeee-ee 7"},
        StateCase{"BeginSet", {true, false, Activity::Idle}, "ee-eee-ee 7"},
        StateCase{"EndSet", {false, true, Activity::Idle}, "eeeeeeeee 7"},
        StateCase{"BothSet", {true, true, Activity::Idle}, "ee-eeeeee 7"},
        // A corner set during a fetch shows once the fetch has ended (the Idle rows above).
        StateCase{"Fetching", {false, true, Activity::Fetching}, "eee-ee--- 7"},
        StateCase{"FetchingWithBegin", {true, true, Activity::Fetching}, "ee--ee--- 7"},
        StateCase{"Region", {true, false, Activity::Region}, "--------- 6c"},
        StateCase{"RegionWithoutBegin", {false, false, Activity::Region}, "--e------ 6c"},
        StateCase{"Closed", {true, true, Activity::Closed}, "--------- 7"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
