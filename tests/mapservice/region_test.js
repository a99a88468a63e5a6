// The map page's rectangle arithmetic against the table the downloader's tests read too.
'use strict';
const assert = require('assert');
const path = require('path');
const root = path.join(__dirname, '..', '..');
const { region } = require(path.join(root, 'mapservice', 'page', 'region.js'));
const rows = require(path.join(root, 'tests', 'data', 'region', 'rectangles.json'));

let failed = 0;
for (const r of rows) {
  const got = region(r.north, r.west, r.south, r.east, r.zoom);
  try {
    assert.strictEqual(got.rows, r.rows, 'rows');
    assert.strictEqual(got.columns, r.columns, 'columns');
    assert.strictEqual(got.tiles, r.rows * r.columns, 'tiles');
  } catch (e) {
    failed += 1;
    console.error(`${r.about}: ${e.message}: got ${JSON.stringify(got)}`);
  }
}
// A rectangle too long for the downloader: no count.
assert.strictEqual(region(80, -180, -80, 180, 0.0000001).tiles, null);
console.log(`${rows.length - failed} of ${rows.length} rectangles as the downloader counts them`);
process.exit(failed === 0 ? 0 : 1);
