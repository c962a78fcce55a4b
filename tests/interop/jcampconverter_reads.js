// Reads a JCAMP-DX file with npm's jcampconverter and compares every point
// with the CSV that the same quillon scan wrote: the same count, and X and Y
// equal within the digits the files carry.
// usage: node jcampconverter_reads.js FILE.jdx FILE.csv
"use strict";
const fs = require("fs");
const { convert } = require("jcampconverter");

const [jdxPath, csvPath] = process.argv.slice(2);
const converted = convert(fs.readFileSync(jdxPath, "utf8"), { keepRecordsRegExp: /.*/ });
const spectra = converted.flatten.flatMap((entry) => entry.spectra || []);
if (spectra.length !== 1) {
  console.error(`jcampconverter found ${spectra.length} spectra in ${jdxPath}`);
  process.exit(1);
}
const { x, y } = spectra[0].data;
const rows = fs.readFileSync(csvPath, "utf8").trim().split("\n").slice(1)
  .map((line) => line.split(",").map(Number));
const faults = [];
if (x.length !== rows.length || y.length !== rows.length)
  faults.push(`${x.length} x and ${y.length} y read, ${rows.length} rows in the CSV`);
for (let i = 0; i < Math.min(x.length, rows.length) && faults.length < 5; i++) {
  const [cx, cy] = rows[i];
  // Six decimals are printed: half a unit of the last one, plus rounding room.
  if (Math.abs(x[i] - cx) > 6e-7) faults.push(`point ${i + 1}: x ${x[i]} read, ${cx} in the CSV`);
  if (Math.abs(y[i] - cy) > 6e-7 + 1e-12 * Math.abs(cy))
    faults.push(`point ${i + 1}: y ${y[i]} read, ${cy} in the CSV`);
}
if (faults.length) {
  console.error(faults.join("\n"));
  process.exit(1);
}
console.log(`jcampconverter read all ${x.length} points of ${jdxPath}`);
