// The map page: the service's map codes on a slippy map, and a rectangle tool that shows the
// region the downloader would make of it.
(function () {
  'use strict';

  var errorLine = document.getElementById('error');
  function tell(text) {
    errorLine.textContent = text;
  }
  window.addEventListener('error', function (e) { tell('error: ' + e.message); });

  // The view, in the address (#zoom/lat/lon), so that a page can be opened where it was.
  var start = (location.hash.match(/^#(\d+)\/(-?[\d.]+)\/(-?[\d.]+)/) || []).slice(1).map(Number);
  var map = L.map('map', { worldCopyJump: true })
    .setView(start.length === 3 ? [start[1], start[2]] : [48, 10], start.length === 3 ? start[0] : 4);
  map.on('moveend', function () {
    var c = map.getCenter();
    history.replaceState(null, '', '#' + map.getZoom() + '/' + c.lat.toFixed(5) + '/' + c.lng.toFixed(5));
  });

  var select = document.getElementById('code');
  var about = document.getElementById('about');
  var layers = [];
  var shown = null;

  function show(index) {
    var layer = layers[index];
    if (shown) {
      map.removeLayer(shown);
    }
    shown = L.tileLayer('tiles/' + encodeURIComponent(layer.code) + '/{z}/{x}/{y}.png', {
      maxZoom: layer.maxzoom, attribution: layer.credit ? layer.credit.replace(/[<>&]/g, '') : ''
    }).addTo(map);
    map.setMaxZoom(layer.maxzoom);
    about.textContent = layer.title + ', zoom 0 to ' + layer.maxzoom +
      (layer.credit ? ', ' + layer.credit : '') + ', 180\u00b0 W to 180\u00b0 E, 85\u00b0 S to 85\u00b0 N';
  }

  fetch('layers.json').then(function (r) { return r.json(); }).then(function (list) {
    layers = list;
    list.forEach(function (layer, i) {
      var option = document.createElement('option');
      option.value = String(i);
      option.textContent = layer.code + ' \u2013 ' + layer.title;
      select.appendChild(option);
    });
    show(0);
  }).catch(function (e) { tell('the map codes could not be read: ' + e); });
  select.addEventListener('change', function () { show(Number(select.value)); });

  // The rectangle tool: while it is on, a drag draws instead of panning.
  var button = document.getElementById('rectangle');
  var corners = document.getElementById('corners');
  var zoomBox = document.getElementById('zoom');
  var count = document.getElementById('count');
  var on = false;
  var from = null;
  var drawn = null;
  var bounds = null;

  function setOn(value) {
    on = value;
    button.classList.toggle('on', on);
    if (on) {
      map.dragging.disable();
    } else {
      map.dragging.enable();
    }
  }
  button.addEventListener('click', function () { setOn(!on); });

  function describe() {
    if (!bounds) {
      return;
    }
    var zoom = Number(zoomBox.value.replace(',', '.'));
    var r = mapRegion.region(bounds.getNorth(), bounds.getWest(), bounds.getSouth(),
                             bounds.getEast(), isFinite(zoom) ? zoom : 0);
    corners.textContent = 'north-west ' + r.texts.north + ', ' + r.texts.west +
      '  south-east ' + r.texts.south + ', ' + r.texts.east;
    if (!(zoom > 0) || zoom > 3000) {
      count.textContent = 'zoom: above 0, at most 3000';
    } else if (r.tiles === null) {
      count.textContent = 'too many tiles';
    } else {
      count.textContent = r.rows + ' x ' + r.columns + ' = ' + r.tiles + ' tiles';
    }
  }
  zoomBox.addEventListener('input', describe);

  map.on('mousedown', function (e) {
    if (!on) {
      return;
    }
    from = e.latlng;
  });
  map.on('mousemove', function (e) {
    if (!from) {
      return;
    }
    bounds = L.latLngBounds(from, e.latlng);
    if (drawn) {
      drawn.setBounds(bounds);
    } else {
      drawn = L.rectangle(bounds, { color: '#d33', weight: 2 }).addTo(map);
    }
  });
  map.on('mouseup', function (e) {
    if (!from) {
      return;
    }
    bounds = L.latLngBounds(from, e.latlng);
    from = null;
    if (drawn) {
      drawn.setBounds(bounds);
    } else {
      drawn = L.rectangle(bounds, { color: '#d33', weight: 2 }).addTo(map);
    }
    describe();
  });

  // A region in the address (?region=north,west,south,east), drawn as a drag would draw it.
  var asked = (location.search.match(/[?&]region=(-?[\d.]+),(-?[\d.]+),(-?[\d.]+),(-?[\d.]+)/) || [])
    .slice(1).map(Number);
  if (asked.length === 4) {
    bounds = L.latLngBounds([asked[2], asked[1]], [asked[0], asked[3]]);
    drawn = L.rectangle(bounds, { color: '#d33', weight: 2 }).addTo(map);
    describe();
  }
})();
