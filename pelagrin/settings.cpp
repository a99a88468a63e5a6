#include "pelagrin/settings.h"

#include "common/numvalue.h"

namespace pelagrin {

void readsettings(MapSettings& settings, const SettingsInput& input)
{
    settings.mapcode = input.option1 ? mapcodeType1 : mapcodeType2;
    settings.zoom = common::numvalue(input.text5);
    settings.centre.latitude = common::numvalue(input.text1);
    settings.centre.longitude = common::numvalue(input.text2);
}

} // namespace pelagrin
