#pragma once

// The region download's window tests: the window loaded, both corners set through it, and what
// the run asked of the service and stored.
#include "common/numvalue.h"
#include "formfixture.h"

#include <QDir>

class RegionDownload : public PelagrinWindow {
protected:
    // Sets both corners through the window; the messages of the two buttons are dropped.
    void setRegion(const char* zoom, const char* beginLat, const char* beginLon, const char* endLat,
                   const char* endLon)
    {
        ASSERT_TRUE(load());
        form->setConnections(connections);
        type("Text5", QString::fromLatin1(zoom));
        if (beginLat != nullptr) {
            type("Text1", QString::fromLatin1(beginLat));
            type("Text2", QString::fromLatin1(beginLon));
            click("Command2");
        }
        type("Text1", QString::fromLatin1(endLat));
        type("Text2", QString::fromLatin1(endLon));
        click("Command3");
        dialogs.messages.clear();
        requestsBefore = static_cast<int>(service.requests().size());
    }

    // Centres of the tiles requested by the run, as "lat/lon" before the shift.
    QStringList tileCentres() const
    {
        QStringList out;
        const QStringList queries = service.decodedQueries();
        for (int i = requestsBefore; i < queries.size(); ++i) {
            const QString cenp = queries[i].section(QStringLiteral("CenP="), 1).section(u'&', 0, 0);
            const double lat = common::numvalue(cenp.section(u',', 0, 0)) - 0.000001;
            const double lon = common::numvalue(cenp.section(u',', 1, 1)) - 0.000001;
            out.append(QStringLiteral("%1/%2").arg(qRound(lat)).arg(qRound(lon)));
        }
        return out;
    }

    QStringList tiles() const
    {
        return QDir(QStringLiteral("MyMaps")).entryList({"*.gif"}, QDir::Files, QDir::Name);
    }

    // The tiles the run asked for, as "lat/lon" (not the pictures that ask for the sources).
    QStringList tilesAsked() const
    {
        QStringList out = tileCentres();
        const QStringList queries = service.decodedQueries();
        for (int i = static_cast<int>(queries.size()) - 1; i >= requestsBefore; --i) {
            if (!queries[i].contains(u"Size=1999,1999")) {
                out.removeAt(i - requestsBefore);
            }
        }
        return out;
    }

    int requestsBefore = 0;
    int connections = 1; // one tile after the other, so that requests arrive in plan order
};
