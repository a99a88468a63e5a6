// The region the downloader would make of a rectangle drawn on the map: its corners as the
// downloader's boxes take them, and the number of its tiles at a zoom. Shared by the map page
// and the tests, which run it under node.
(function (root) {
  'use strict';

  // The divisors of the downloader's spacing boxes, as it starts.
  var divisor = 45;
  // From this zoom on, the downloader rounds corners down to whole degrees.
  var wholeDegreeZoom = 20;
  // A region longer than this many tile centres along one axis is refused.
  var maxAxisValues = 1000000;

  // A coordinate as the downloader's boxes show it: six decimals, "." as decimal point.
  function sixDecimals(value) {
    var text = value.toFixed(6);
    return text === '-0.000000' ? '0.000000' : text;
  }

  function cornerValue(value, zoom) {
    return zoom < wholeDegreeZoom ? value : Math.floor(value);
  }

  // How many values a counting loop over doubles visits, as the downloader counts: the counter
  // starts at |start| and the body runs while it is at most |bound| (step of 0 or more) or at
  // least |bound|; null past maxAxisValues.
  function loopCount(start, bound, step) {
    var n = 0;
    for (var counter = start; step >= 0 ? counter <= bound : counter >= bound; counter += step) {
      if (n === maxAxisValues) {
        return null;
      }
      n += 1;
    }
    return n;
  }

  // The region of a rectangle from |north|, |west| to |south|, |east| (east at least west,
  // in any copy of the world) at |zoom|: west moved into -180..180 and east with it, as the
  // downloader's picture gives them; its corners as text and as the downloader takes them, its
  // rows, columns and tiles (tiles null when the region is too large).
  function region(north, west, south, east, zoom) {
    var wrapped = ((west + 180) % 360 + 360) % 360 - 180;
    east += wrapped - west;
    west = wrapped;
    var texts = {
      north: sixDecimals(north), west: sixDecimals(west),
      south: sixDecimals(south), east: sixDecimals(east)
    };
    var beginlat = cornerValue(Number(texts.north), zoom);
    var beginlong = cornerValue(Number(texts.west), zoom);
    var endlat = cornerValue(Number(texts.south), zoom);
    var endlong = cornerValue(Number(texts.east), zoom);
    var rows = loopCount(endlat, beginlat, zoom / divisor);
    var columns = loopCount(beginlong, endlong, zoom / divisor);
    return {
      texts: texts, beginlat: beginlat, beginlong: beginlong, endlat: endlat, endlong: endlong,
      rows: rows, columns: columns,
      tiles: rows === null || columns === null ? null : rows * columns
    };
  }

  var api = { sixDecimals: sixDecimals, cornerValue: cornerValue, loopCount: loopCount,
              region: region };
  if (typeof module !== 'undefined' && module.exports) {
    module.exports = api;
  } else {
    root.mapRegion = api;
  }
})(this);
