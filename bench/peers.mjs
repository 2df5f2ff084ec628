// Makes an icon of the sizes asked for with one npm packer, called as its
// users call it, for bench/run_bench.py and bench/quality.py:
//
//   node bench/peers.mjs MODULES TOOL INPUT OUTPUT 16,20,24,...
//
// MODULES is the node_modules folder the packers were installed into (see
// bench/README.md); INPUT the master PNG, or for icon-gen, which takes no
// single PNG, the SVG drawing. TOOL:
//   sharp       sharp-ico's sharpsToIco: sharp resizes the master to each size
//   png-to-ico  its one-file form: 256, 48, 32 and 16 from the master (fixed)
//   to-ico      toIco with resize and the sizes
//   icon-gen    the SVG drawn by sharp at each size
import { createRequire } from "node:module";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";

const [modules, tool, input, output, list] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), "package.json"));
const sizes = list.split(",").map(Number);

async function main() {
  if (tool === "sharp") {
    const sharp = require("sharp");
    const ico = require("sharp-ico");
    await ico.sharpsToIco([sharp(input)], output, { sizes: [...sizes].sort((a, b) => b - a) });
  } else if (tool === "png-to-ico") {
    const pngToIco = (await import(pathToFileURL(require.resolve("png-to-ico")))).default;
    fs.writeFileSync(output, await pngToIco(input));
  } else if (tool === "to-ico") {
    const toIco = require("to-ico");
    fs.writeFileSync(output, await toIco([fs.readFileSync(input)], { resize: true, sizes }));
  } else if (tool === "icon-gen") {
    const icongen = require("icon-gen").default ?? require("icon-gen");
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), "icon-gen-"));
    await icongen(input, folder, { report: false, ico: { name: "out", sizes } });
    fs.copyFileSync(path.join(folder, "out.ico"), output);
    fs.rmSync(folder, { recursive: true });
  } else {
    throw new Error("unknown tool " + tool);
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
