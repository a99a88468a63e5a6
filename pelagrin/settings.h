#pragma once

#include "common/tilegeometry.h"

#include <QByteArray>
#include <QString>

namespace pelagrin {

// The map codes the service knows. Note the letter O in the start-up code against the digit 0
// in the two map types.
inline const QString mapcodeType1 = QStringLiteral("EUR0407");
inline const QString mapcodeType2 = QStringLiteral("WLD0407");
inline const QString mapcodeAmerica = QStringLiteral("USA407");
inline const QString mapcodeStartup = QStringLiteral("EURO809");

// The state every operation of the downloader works on. Angles are decimal degrees, north and
// east positive. The members start with the values the program starts with.
struct MapSettings {
    int abortflag = 0;   // 1 asks a running region download to stop
    double zoom = 50000; // the service's "Alti"; also the numerator of the tile step
    // The current centre: its latitude and longitude.
    common::Centre centre{.latitude = 47.651931, .longitude = 9.476379};
    int offsx = 0; // the request's "Offs" pair
    int offsy = 0;
    QString mapcode = mapcodeStartup;
    // Region corners; a corner that was never set counts as 0.
    double beginlong = 0;
    double beginlat = 0;
    double endlong = 0;
    double endlat = 0;
};

// What readsettings reads from the window: the choice of "Maptype 1" and the texts of the
// latitude, longitude and zoom boxes.
struct SettingsInput {
    bool option1 = true;
    QString text1; // latitude
    QString text2; // longitude
    QString text5; // zoom
};

// Copies the window's inputs into |settings|: the map code from the map type, then zoom,
// latitude and longitude read with numvalue (so "48,5" gives 48 and an empty box 0).
void readsettings(MapSettings& settings, const SettingsInput& input);

} // namespace pelagrin
