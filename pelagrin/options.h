#pragma once

#include "common/result.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace pelagrin {

// How many tiles of a region are requested at once, each on a connection of its own: a service
// is not asked for more than six at a time.
constexpr int defaultConnections = 2;
constexpr int maxConnections = 6;

// The map service's port when --service names none: the one of the address the program was
// built with (PELAGRIN_MAP_SERVICE, "host:port").
constexpr int defaultServicePort = PELAGRIN_SERVICE_PORT;

// The zoom --route sets when --zoom is not given.
constexpr double defaultRouteZoom = 45;
// Stored tiles older than this many days are offered for refreshing.
constexpr int defaultRefreshDays = 30;
constexpr int maxRefreshDays = 3650;

struct Options {
    int connections = defaultConnections;
    QString service; // "host:port" of --service; empty: the address the program was built with
    QString route;   // a GPX, KML or KMZ file whose region the window starts with
    double routeWidthKm = 2;
    std::optional<double> zoom; // the zoom box's value with --route
    int refreshDays = defaultRefreshDays;
};

// The usage line and the --help text, both from the one table of options.
extern const QString usageText;
extern const QString helpText;

// The command line's options (|arguments| without the program's name), or a bad-input error
// with exit status 2 whose text (the reason and the usage line) goes to standard error.
// "--help" and "--version" are answered before this.
common::Result<Options> parseArguments(const QStringList& arguments);

// The address "HOST:PORT" that --service |text| names (an IPv6 host keeps its brackets), or
// the bad-input error that parseArguments gives.
common::Result<QString> parseServiceAddress(const QString& text);

// Whether |arguments| hold one with the single dash of Qt's own options (-platform, -style
// ...), which Qt takes out of the command line when it starts.
bool hasSingleDashArgument(const QStringList& arguments);

} // namespace pelagrin
