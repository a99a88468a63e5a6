// The page beside an exported archive: its tiles on a slippy map, read by range requests from
// the web server that serves the page's folder, or from a file the user picks when the page is
// opened from the disk. Nothing is loaded from any other address.
(function () {
  'use strict';

  var message = document.getElementById('message');
  var pick = document.getElementById('pick');
  function tell(text) {
    if (!message.textContent) {
      message.textContent = text;
      message.hidden = false;
    }
  }
  function reason(e) {
    return e && e.message ? e.message : String(e);
  }
  window.addEventListener('error', function (e) { tell('Error: ' + e.message); });
  window.addEventListener('unhandledrejection', function (e) { tell('Error: ' + reason(e.reason)); });

  var map = L.map('map');
  var shown = null;
  // The view, in the address (#zoom/lat/lon), so that a page can be opened where it was.
  var start = (location.hash.match(/^#(\d+)\/(-?[\d.]+)\/(-?[\d.]+)$/) || []).slice(1).map(Number);
  map.on('moveend', function () {
    var c = map.getCenter();
    history.replaceState(null, '', '#' + map.getZoom() + '/' + c.lat.toFixed(5) + '/' + c.lng.toFixed(5));
  });

  var types = { 2: 'image/png', 3: 'image/jpeg', 4: 'image/webp' };

  // The credit as plain text: the archive's attribution is HTML, which is not run.
  function plainCredit(html) {
    var text = new DOMParser().parseFromString(html || '', 'text/html').body.textContent;
    var escaped = document.createElement('span');
    escaped.textContent = text;
    return escaped.innerHTML;
  }

  function show(source, what) {
    var archive = new pmtiles.PMTiles(source);
    Promise.all([archive.getHeader(), archive.getMetadata()]).then(function (parts) {
      var header = parts[0];
      var metadata = parts[1] || {};
      var type = types[header.tileType];
      if (!type) {
        throw new Error('its tiles are not PNG, JPEG or WebP pictures');
      }
      var failed = false;
      var Tiles = L.GridLayer.extend({
        createTile: function (coords, done) {
          var tile = document.createElement('img');
          tile.alt = '';
          archive.getZxy(coords.z, coords.x, coords.y).then(function (found) {
            if (!found) {
              tile.style.display = 'none';
              done(null, tile);
              return;
            }
            var url = URL.createObjectURL(new Blob([found.data], { type: type }));
            tile.onload = function () { URL.revokeObjectURL(url); done(null, tile); };
            tile.onerror = function () {
              URL.revokeObjectURL(url);
              done(new Error('a tile is not a picture'), tile);
            };
            tile.src = url;
          }).catch(function (e) {
            if (!failed) {
              failed = true;
              tell('A tile of ' + what + ' cannot be read: ' + reason(e));
            }
            done(e, tile);
          });
          return tile;
        }
      });
      if (shown) {
        map.removeLayer(shown);
      }
      shown = new Tiles({
        minNativeZoom: header.minZoom, maxNativeZoom: header.maxZoom, maxZoom: header.maxZoom + 2,
        attribution: plainCredit(metadata.attribution)
      }).addTo(map);
      map.setMaxZoom(header.maxZoom + 2);
      document.title = metadata.name || document.title;
      if (start.length === 3) {
        map.setView([start[1], start[2]], start[0]);
      } else if (header.maxLon - header.minLon < 360) {
        map.fitBounds([[header.minLat, header.minLon], [header.maxLat, header.maxLon]]);
      } else {
        map.setView([header.centerLat, header.centerLon], header.centerZoom);
      }
    }).catch(function (e) {
      tell(what + ' cannot be read: ' + reason(e));
      pick.hidden = false;
    });
  }

  document.getElementById('file').addEventListener('change', function (e) {
    var file = e.target.files[0];
    if (file) {
      message.textContent = '';
      message.hidden = true;
      show(new pmtiles.FileSource(file), file.name);
    }
  });

  if (location.protocol === 'file:') {
    // A browser reads no file of the disk by itself: the user picks the archive.
    tell('Opened from the disk: pick ' + archiveName + ' to show it.');
    pick.hidden = false;
  } else {
    show(new URL(encodeURIComponent(archiveName), location.href).href, archiveName);
  }
})();
