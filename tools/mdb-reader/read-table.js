// Prints one table of an Access file as the npm package mdb-reader reads it,
// one line per row, each value as JSON with a type tag, so that the tests
// can compare it with the rows the writer was given:
//   node read-table.js FILE TABLE
// Output: "ROWS n" then one line per row: [v, v, ...] where a value is
// null, {"t":"text","v":...}, {"t":"num","v":...}, {"t":"bool","v":...},
// {"t":"date","v":ms since 1970}, {"t":"bytes","v":hex}.
"use strict";
const fs = require("fs");
const MDBReader = require("mdb-reader").default;

const [file, table] = process.argv.slice(2);
const reader = new MDBReader(fs.readFileSync(file));
const t = reader.getTable(table);
const columns = t.getColumnNames();
const rows = t.getData();
console.log("ROWS " + t.rowCount + " " + rows.length);
for (const row of rows) {
  const values = columns.map((name) => {
    const v = row[name];
    if (v === null || v === undefined) return null;
    if (typeof v === "string") return { t: "text", v };
    if (typeof v === "number" || typeof v === "bigint") return { t: "num", v: String(v) };
    if (typeof v === "boolean") return { t: "bool", v };
    if (v instanceof Date) return { t: "date", v: v.getTime() };
    if (Buffer.isBuffer(v)) return { t: "bytes", v: v.toString("hex") };
    return { t: "other", v: String(v) };
  });
  console.log(JSON.stringify(values));
}
