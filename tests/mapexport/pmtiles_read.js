// Reads a PMTiles archive with the reader the exporter's page ships (the browser build of the
// npm package pmtiles, run by node): prints its header, its metadata and, for each "z x y" line
// of LIST, the SHA-256 of that tile's bytes (null where the archive has none), as JSON.
// Usage: node pmtiles_read.js READER ARCHIVE [LIST]
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const vm = require('vm');

const [reader, path, list] = process.argv.slice(2);
vm.runInThisContext(fs.readFileSync(reader, 'utf8'));

const fd = fs.openSync(path, 'r');
const source = {
  getKey: () => path,
  getBytes: async (offset, length) => {
    const bytes = Buffer.alloc(length);
    const read = fs.readSync(fd, bytes, 0, length, offset);
    return { data: bytes.buffer.slice(0, read) };
  },
};

(async () => {
  const archive = new pmtiles.PMTiles(source);
  const header = await archive.getHeader();
  const metadata = await archive.getMetadata();
  const tiles = [];
  const wanted = list ? fs.readFileSync(list, 'utf8').split('\n').filter(Boolean) : [];
  for (const line of wanted) {
    const [z, x, y] = line.split(' ').map(Number);
    const tile = await archive.getZxy(z, x, y);
    tiles.push(tile ? crypto.createHash('sha256').update(Buffer.from(tile.data)).digest('hex') : null);
  }
  process.stdout.write(JSON.stringify({ header, metadata, tiles }));
})().catch((e) => {
  process.stderr.write(String((e && e.stack) || e) + '\n');
  process.exit(1);
});
